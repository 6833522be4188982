#include "tools/station/presence_probe.h"

bool shows_prompt(std::string_view reply, std::string_view prompts)
{
    return reply.find_first_of(prompts) != std::string_view::npos;
}

PresenceProbe::PresenceProbe(LineSettings line, std::string prompts, QObject* parent)
    : QObject(parent), line_(line), prompts_(std::move(prompts))
{
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] { end(false); });
}

PresenceProbe::~PresenceProbe()
{
    cancel();
}

void PresenceProbe::probe(const std::string& device)
{
    cancel();
    ++probes_;
    busy_ = true;
    const bool opened = device_.open(device).error == OpenError::None && device_.apply(line_);
    if (opened)
        device_.purge_input(); // what a unit said before must not pass for its answer now
    if (!opened || device_.write("\r", 1, 0).count != 1) {
        device_.close();
        // Answered from the event loop, like every other answer; unless this probe is over by then.
        QMetaObject::invokeMethod(
            this, [this, probe = probes_] { if (probe == probes_) end(false); }, Qt::QueuedConnection);
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(device_.native_handle(), QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &PresenceProbe::readReply);
    deadline_.start(kPresenceAnswerMs);
}

void PresenceProbe::cancel()
{
    deadline_.stop();
    notifier_.reset();
    device_.close();
    busy_ = false;
}

void PresenceProbe::readReply()
{
    char reply[256];
    const IoResult got = device_.read(reply, sizeof reply, 0);
    if (got.status != IoStatus::Done)
        end(false);
    else if (shows_prompt(std::string_view(reply, got.count), prompts_))
        end(true);
}

void PresenceProbe::end(bool present)
{
    if (!busy_)
        return;
    cancel();
    emit answered(present);
}
