#include "collector-tool/Record.h"

#include "collector-tool/Text.h"

namespace tarnhollow::tool {

Record recordOf(const Node& node, std::string kind)
{
    Record record;
    record.node = node;
    record.name = escapeName(node.path);
    record.kind = std::move(kind);
    return record;
}

} // namespace tarnhollow::tool
