#include "tools/station/hands_free.h"

#include "tools/station/station.h"

#include <QDir>
#include <QFileInfo>

namespace {

// The device's folder, or the nearest folder above it that exists.
QString watched_folder_of(const std::string& device)
{
    QString folder = QFileInfo(QString::fromStdString(device)).absolutePath();
    while (!QFileInfo(folder).isDir() && folder != QDir::rootPath())
        folder = QFileInfo(folder).absolutePath();
    return folder;
}

bool device_there(const std::string& device)
{
    return QFileInfo::exists(QString::fromStdString(device));
}

} // namespace

HandsFreeLine::HandsFreeLine(Station& station) : QObject(&station), station_(station)
{
    const StationSettings& settings = station.settings();
    for (int row = 0; row < station.unitCount(); ++row) {
        Fixture fixture{.presence = {}, .probe = std::make_unique<PresenceProbe>(settings.line, settings.prompts)};
        connect(fixture.probe.get(), &PresenceProbe::answered, this,
                [this, row](bool present) { follow(row, fixtures_[static_cast<std::size_t>(row)].presence.probed(present)); });
        fixtures_.push_back(std::move(fixture));
    }
    interval_.setInterval(kPresenceProbeIntervalMs);
    connect(&interval_, &QTimer::timeout, this, &HandsFreeLine::probeDue);
    connect(&folders_, &QFileSystemWatcher::directoryChanged, this, &HandsFreeLine::devicesChanged);
    connect(&station, &Station::launching, this, &HandsFreeLine::launching);
    connect(&station, &Station::runEnded, this, &HandsFreeLine::runEnded);
}

HandsFreeLine::~HandsFreeLine() = default;

void HandsFreeLine::arm(const std::vector<int>& rows)
{
    armed_ = true;
    for (int row : rows)
        fixtures_[static_cast<std::size_t>(row)].presence.arm();
    watchDeviceFolders();
    interval_.start();
    probeDue();
}

void HandsFreeLine::disarm()
{
    armed_ = false;
    interval_.stop();
    for (Fixture& fixture : fixtures_) {
        fixture.probe->cancel();
        fixture.presence.disarm();
    }
}

void HandsFreeLine::probeDue()
{
    for (int row = 0; row < static_cast<int>(fixtures_.size()); ++row)
        probe(row);
}

void HandsFreeLine::probe(int row)
{
    Fixture& fixture = fixtures_[static_cast<std::size_t>(row)];
    if (!fixture.presence.wantsProbe() || fixture.probe->busy() || station_.unit(row).isActive())
        return;
    const std::string& device = station_.unit(row).unit().device;
    if (!device_there(device)) {
        follow(row, fixture.presence.deviceGone());
        return;
    }
    fixture.probe->probe(device);
}

void HandsFreeLine::follow(int row, FixturePresence::Change change)
{
    if (change == FixturePresence::Change::None)
        return;
    emit presenceChanged(row, change);
    if (change == FixturePresence::Change::Came)
        station_.start({row});
    else
        station_.unitRemoved(row);
}

// A device came or went in a watched folder: the fixtures whose device appeared are probed now,
// those whose device is gone have lost their unit.
void HandsFreeLine::devicesChanged()
{
    watchDeviceFolders();
    for (int row = 0; row < static_cast<int>(fixtures_.size()); ++row) {
        Fixture& fixture = fixtures_[static_cast<std::size_t>(row)];
        if (device_there(station_.unit(row).unit().device))
            probe(row);
        else if (fixture.presence.wantsProbe())
            follow(row, fixture.presence.deviceGone());
    }
}

void HandsFreeLine::watchDeviceFolders()
{
    if (!folders_.directories().isEmpty())
        folders_.removePaths(folders_.directories());
    QStringList folders;
    for (int row = 0; row < station_.unitCount(); ++row)
        folders << watched_folder_of(station_.unit(row).unit().device);
    folders.removeDuplicates();
    folders_.addPaths(folders);
}

void HandsFreeLine::launching(int row)
{
    Fixture& fixture = fixtures_[static_cast<std::size_t>(row)];
    fixture.probe->cancel();
    fixture.presence.runStarted();
}

void HandsFreeLine::runEnded(int row)
{
    fixtures_[static_cast<std::size_t>(row)].presence.runEnded();
}
