#include "platform/qt/QtWorkspace.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFile>
#include <QStringList>

namespace tarnhollow {

namespace {

constexpr int busTimeoutMs = 10'000;

void openWithDesktop(const QUrl& folder)
{
    QDesktopServices::openUrl(folder); // its result is not looked at
}

} // namespace

QtWorkspace::QtWorkspace()
    : QtWorkspace(Options{})
{
}

QtWorkspace::QtWorkspace(Options options)
    : options_(std::move(options))
{
    if (!options_.open)
        options_.open = openWithDesktop;
    if (!options_.bus)
        options_.bus = [] { return QDBusConnection::sessionBus(); };
}

QUrl QtWorkspace::fileURL(const std::filesystem::path& path)
{
    // Decoded as Qt decodes every file name, so the URL names the same file.
    return QUrl::fromLocalFile(QFile::decodeName(path.c_str()));
}

void QtWorkspace::openURL(const std::filesystem::path& folder) { options_.open(fileURL(folder)); }

void QtWorkspace::activateFileViewerSelectingURLs(const std::vector<std::filesystem::path>& files)
{
    if (files.empty())
        return;
    const QUrl folder = fileURL(files.front().parent_path());
    QDBusConnection bus = options_.bus();
    if (!bus.isConnected()) {
        options_.open(folder);
        return;
    }

    QStringList uris;
    for (const auto& file : files)
        uris << fileURL(file).toString(QUrl::FullyEncoded);
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << uris << QString();

    // Asynchronous, so that a slow or absent file manager never blocks the
    // window; without one, the folder is opened instead.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, busTimeoutMs));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [open = options_.open, folder](QDBusPendingCallWatcher* self) {
                         if (self->isError())
                             open(folder);
                         self->deleteLater();
                     });
}

} // namespace tarnhollow
