#include "collector-tool/Items.h"

namespace tarnhollow::tool {

Item liveItem(std::string name, std::vector<LiveCommand> commands)
{
    Item item;
    item.name = std::move(name);
    item.commands = std::move(commands);
    return item;
}

ItemSystem runningSystem()
{
#ifdef __APPLE__
    return ItemSystem::macosSystem;
#else
    return ItemSystem::linuxSystem;
#endif
}

std::optional<ItemSystem> systemNamed(std::string_view name)
{
    if (name == "linux")
        return ItemSystem::linuxSystem;
    if (name == "macos")
        return ItemSystem::macosSystem;
    return std::nullopt;
}

const char* systemName(ItemSystem system) { return system == ItemSystem::macosSystem ? "macos" : "linux"; }

const std::vector<Item>& collectionItems(ItemSystem system)
{
    return system == ItemSystem::macosSystem ? macosItems() : linuxItems();
}

} // namespace tarnhollow::tool
