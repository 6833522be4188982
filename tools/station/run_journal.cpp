#include "tools/station/run_journal.h"

#include "tools/station/journal_line.h"

namespace {

constexpr std::string_view kCutMark = " [cut]";

} // namespace

bool BoundedText::appendLine(std::string_view line)
{
    if (text_.size() + line.size() + 1 > limit_) {
        dropped_ += line.size() + 1;
        return false;
    }
    appendBeyondLimit(line);
    return true;
}

void BoundedText::appendBeyondLimit(std::string_view line)
{
    text_ += line;
    text_ += '\n';
}

RunJournal::RunJournal(std::string upload_word, Sink sink)
    : upload_word_(std::move(upload_word)), sink_(std::move(sink))
{
}

void RunJournal::take(std::string_view bytes, const std::function<void()>& after_line)
{
    for (char c : bytes) {
        if (c == '\n') {
            if (!cutting_line_)
                takeLine(partial_line_, after_line);
            partial_line_.clear();
            cutting_line_ = false;
        } else if (!cutting_line_) {
            partial_line_ += c;
            if (partial_line_.size() == kMaxJournalLineBytes) {
                takeLine(partial_line_ + std::string(kCutMark), after_line);
                partial_line_.clear();
                cutting_line_ = true;
            }
        }
    }
}

void RunJournal::endOfInput()
{
    if (!partial_line_.empty() && !cutting_line_)
        takeLine(partial_line_, {});
    partial_line_.clear();
    cutting_line_ = false;
}

void RunJournal::takeLine(const std::string& line, const std::function<void()>& after_line)
{
    const JournalEvent event = parse_journal_line(line, upload_word_);
    switch (event.kind) {
    case JournalKind::Progress:
        progress_file_ = std::string(event.file);
        progress_sent_ = event.sent;
        progress_total_ = event.total;
        uploading_ = true;
        break;
    case JournalKind::Upload:
        uploads_.appendLine(line);
        uploading_ = false;
        break;
    case JournalKind::Answer:
        answers_.appendLine(line);
        break;
    case JournalKind::Image:
        images_.appendLine(line);
        break;
    case JournalKind::Script:
        script_sha256_ = std::string(event.text);
        break;
    case JournalKind::Kestrin:
        kestrin_version_ = std::string(event.text);
        break;
    case JournalKind::Result:
        if (!event.passed)
            result_reason_ = std::string(event.text);
        break;
    case JournalKind::Qt:
        crash_note_ = std::string(event.text);
        break;
    default:
        break;
    }
    if (journal_.appendLine(line) && sink_)
        sink_(line);
    if (after_line)
        after_line();
}

void RunJournal::addStationLine(const std::string& line)
{
    journal_.appendBeyondLimit(line);
    if (sink_)
        sink_(line);
}

void RunJournal::noteDroppedBytes()
{
    const std::size_t dropped = journal_.droppedBytes() + uploads_.droppedBytes() +
                                answers_.droppedBytes() + images_.droppedBytes();
    if (dropped == 0)
        return;
    addStationLine("station: " + std::to_string(journal_.droppedBytes()) + " journal bytes, " +
                   std::to_string(uploads_.droppedBytes() + images_.droppedBytes()) + " upload and " +
                   std::to_string(answers_.droppedBytes()) +
                   " answer bytes beyond the bounds not kept");
}
