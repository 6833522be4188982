#include "app/dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFontDialog>
#include <QMessageBox>

#include <cstdio>

QString latin1(std::string_view text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
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

// ---- Qt dialogs ------------------------------------------------------------------------------

void QtDialogs::Message(QWidget* owner, std::string_view text)
{
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), latin1(text),
                    QMessageBox::Ok, owner);
    box.exec();
}

bool QtDialogs::Question(QWidget* owner, std::string_view caption, std::string_view text,
                         QuestionButtons buttons)
{
    const bool yesNo = buttons == QuestionButtons::YesNo;
    const auto accept = yesNo ? QMessageBox::Yes : QMessageBox::Ok;
    const auto reject = yesNo ? QMessageBox::No : QMessageBox::Cancel;
    QMessageBox box(QMessageBox::Question, latin1(caption), latin1(text), accept | reject, owner);
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

static void journal(const std::string& line)
{
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
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

void UnattendedDialogs::Message(QWidget*, std::string_view text)
{
    journal("message: " + journal_escape(text));
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

std::unique_ptr<Dialogs> make_dialogs()
{
    if (!qEnvironmentVariableIsEmpty("KESTRIN_UNATTENDED"))
        return std::make_unique<UnattendedDialogs>(qgetenv("KESTRIN_ANSWERS").toStdString());
    return std::make_unique<QtDialogs>();
}
