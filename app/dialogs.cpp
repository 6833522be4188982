#include "app/dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFontDialog>
#include <QMessageBox>

#include <cerrno>
#include <cstdio>
#include <string>
#include <utility>

QString latin1(std::string_view text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// The lead bytes of UTF-8 sequences of two, three and four bytes, with the smallest code point
// that each length may carry (anything below it is an overlong form).
struct Utf8Lead {
    unsigned char mask;
    unsigned char bits;
    size_t length;
    char32_t smallest;
};
constexpr Utf8Lead kUtf8Leads[] = {
    {0xE0, 0xC0, 2, 0x80}, {0xF0, 0xE0, 3, 0x800}, {0xF8, 0xF0, 4, 0x10000}};

// The length of the valid UTF-8 sequence that `bytes` begins with, or 0 when it begins with none
// (a stray continuation byte, a cut or overlong sequence, a surrogate, beyond U+10FFFF).
static size_t utf8_sequence_length(std::string_view bytes)
{
    const auto lead = static_cast<unsigned char>(bytes[0]);
    if (lead < 0x80)
        return 1;
    for (const Utf8Lead& form : kUtf8Leads) {
        if ((lead & form.mask) != form.bits)
            continue;
        if (bytes.size() < form.length)
            return 0;
        char32_t code = lead & static_cast<unsigned char>(~form.mask);
        for (size_t i = 1; i < form.length; ++i) {
            const auto next = static_cast<unsigned char>(bytes[i]);
            if ((next & 0xC0) != 0x80)
                return 0;
            code = (code << 6) | (next & 0x3F);
        }
        const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
        return code < form.smallest || code > 0x10FFFF || surrogate ? 0 : form.length;
    }
    return 0;
}

QString message_box_text(std::string_view text)
{
    QString shown;
    shown.reserve(static_cast<qsizetype>(text.size()));
    size_t at = 0;
    while (at < text.size()) {
        const std::string_view rest = text.substr(at);
        if (rest[0] == '\r') {
            shown += '\n';
            at += rest.starts_with("\r\n") ? 2 : 1;
        } else if (const size_t length = utf8_sequence_length(rest)) {
            shown += QString::fromUtf8(rest.data(), static_cast<qsizetype>(length));
            at += length;
        } else {
            shown += QChar(static_cast<unsigned char>(rest[0]));
            at += 1;
        }
    }
    return shown;
}

std::string journal_escape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        if (ch == '\r') {
            out += "\\r";
        } else if (ch == '\n') {
            out += "\\n";
        } else if (ch == '\\') {
            out += "\\\\";
        } else if (byte < 32) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", byte);
            out += hex;
        } else {
            out += ch;
        }
    }
    return out;
}

void Dialogs::Message(QWidget* owner, std::string_view text, std::string_view detail)
{
    if (watcher_)
        watcher_(text);
    ShowMessage(owner, text, detail);
}

void Dialogs::WatchMessages(std::function<void(std::string_view)> watcher)
{
    watcher_ = std::move(watcher);
}

// ---- Qt dialogs ------------------------------------------------------------------------------

void QtDialogs::ShowMessage(QWidget* owner, std::string_view text, std::string_view detail)
{
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), message_box_text(text),
                    QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);
    if (!detail.empty())
        box.setDetailedText(message_box_text(detail));
    box.exec();
}

bool QtDialogs::Question(QWidget* owner, std::string_view caption, std::string_view text,
                         QuestionButtons buttons)
{
    const bool yesNo = buttons == QuestionButtons::YesNo;
    const auto accept = yesNo ? QMessageBox::Yes : QMessageBox::Ok;
    const auto reject = yesNo ? QMessageBox::No : QMessageBox::Cancel;
    QMessageBox box(QMessageBox::Question, message_box_text(caption), message_box_text(text),
                    accept | reject, owner);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(accept);
    return box.exec() == accept;
}

// "Script files (*.sld)|*.sld|All files (*.*)|*.*" -> "Script files (*.sld);;All files (*)"
static QString qt_filter(const std::string& filter)
{
    const QStringList parts = latin1(filter).split('|');
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString pattern = parts[i + 1];
        pattern.replace("*.*", "*");
        entries << parts[i].section('(', 0, 0).trimmed() + " (" + pattern.replace(';', ' ') + ")";
    }
    return entries.join(";;");
}

std::optional<std::string> QtDialogs::OpenFile(QWidget* owner, const std::string& initialDir,
                                               const std::string& filter)
{
    const QString path = QFileDialog::getOpenFileName(owner, QString(), latin1(initialDir),
                                                      qt_filter(filter));
    if (path.isEmpty())
        return std::nullopt;
    return path.toStdString();
}

std::optional<QFont> QtDialogs::ChooseFont(QWidget* owner, const QFont& current)
{
    bool ok = false;
    const QFont font = QFontDialog::getFont(&ok, current, owner);
    if (!ok)
        return std::nullopt;
    return font;
}

// ---- unattended journal ----------------------------------------------------------------------

namespace {

std::function<void()> journal_lost_handler;
bool journal_lost = false;

void journal(const std::string& line)
{
    if (journal_lost)
        return;
    errno = 0;
    const bool written = std::fprintf(stderr, "%s\n", line.c_str()) >= 0 && std::fflush(stderr) == 0;
    if (written || errno != EPIPE)
        return;
    journal_lost = true;
    if (journal_lost_handler)
        journal_lost_handler();
}

} // namespace

void on_journal_lost(std::function<void()> handler)
{
    journal_lost_handler = std::move(handler);
}

UnattendedDialogs::UnattendedDialogs(std::string_view answers)
{
    for (const QString& word : latin1(answers).split(',', Qt::SkipEmptyParts))
        answers_ << word.trimmed().toLower();
}

std::string UnattendedDialogs::NextAnswer(QuestionButtons buttons)
{
    if (!answers_.isEmpty())
        return answers_.takeFirst().toStdString();
    return buttons == QuestionButtons::YesNo ? "yes" : "ok";
}

void UnattendedDialogs::ShowMessage(QWidget*, std::string_view text, std::string_view detail)
{
    journal("message: " + journal_escape(text));
    if (!detail.empty())
        journal("detail: " + journal_escape(detail));
}

bool UnattendedDialogs::Question(QWidget*, std::string_view caption, std::string_view text,
                                 QuestionButtons buttons)
{
    const std::string answer = NextAnswer(buttons);
    journal("question: " + journal_escape(caption) + ": " + journal_escape(text) + " -> " + answer);
    return answer == "yes" || answer == "ok";
}

// The file that KESTRIN_OPEN names is the operator's choice; without it the dialog is cancelled.
std::optional<std::string> UnattendedDialogs::OpenFile(QWidget*, const std::string& initialDir,
                                                       const std::string&)
{
    const std::string chosen = qgetenv("KESTRIN_OPEN").toStdString();
    journal("open: " + journal_escape(initialDir) + " -> " +
            (chosen.empty() ? std::string("cancel") : journal_escape(chosen)));
    if (chosen.empty())
        return std::nullopt;
    return chosen;
}

std::optional<QFont> UnattendedDialogs::ChooseFont(QWidget*, const QFont&)
{
    journal("font: cancel");
    return std::nullopt;
}

void UnattendedDialogs::StatusShown(std::string_view text)
{
    journal("status: " + journal_escape(text));
}

void UnattendedDialogs::AnswerGiven(std::string_view answer)
{
    journal("answer: " + journal_escape(answer));
}

void UnattendedDialogs::ImageProgress(std::string_view file, int64_t sent, int64_t total)
{
    journal("progress: " + journal_escape(file) + " " + std::to_string(sent) + "/" +
            std::to_string(total));
}

void UnattendedDialogs::UploadEnded(std::string_view file, std::string_view header, bool complete)
{
    journal("upload: " + journal_escape(file) + ": " + journal_escape(header) +
            (complete ? " -> complete" : " -> incomplete"));
}

void UnattendedDialogs::RunEnded(std::string_view result)
{
    journal("result: " + journal_escape(result));
}

void UnattendedDialogs::RunStarted(std::string_view version)
{
    journal("kestrin: " + journal_escape(version));
}

void UnattendedDialogs::ScriptOpened(std::string_view file, std::string_view sha256)
{
    journal("script: " + journal_escape(file) + ": " + std::string(sha256));
}

void UnattendedDialogs::ImageMeasured(std::string_view file, int64_t length, std::string_view sha256)
{
    journal("image: " + journal_escape(file) + ": " + std::to_string(length) + " " +
            std::string(sha256));
}

bool unattended_mode()
{
    return !qEnvironmentVariableIsEmpty("KESTRIN_UNATTENDED");
}

std::unique_ptr<Dialogs> make_dialogs()
{
    if (unattended_mode())
        return std::make_unique<UnattendedDialogs>(qgetenv("KESTRIN_ANSWERS").toStdString());
    return std::make_unique<QtDialogs>();
}
