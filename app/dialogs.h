#pragma once
// The dialog seam.
//
// Every message box, question, file-open dialog and font dialog of Kestrin goes through one
// `Dialogs` object owned by the main window, and so does every text put on the status line.
// Texts are the system's own single-byte texts (no character-set conversion).
//
//   QtDialogs          shows the modal Qt dialog with the buttons the caller names. A message or
//                      question shows its text as plain text, never as markup, so a script text
//                      or a file name reads as typed; see message_box_text().
//   UnattendedDialogs  shows nothing; each dialog writes one journal line to standard error and
//                      returns at once:
//                        message: TEXT
//                        question: CAPTION: TEXT -> ANSWER
//                        status: TEXT
//                        open: DIRECTORY -> PATH    (the path in KESTRIN_OPEN, when set)
//                        open: DIRECTORY -> cancel  (otherwise)
//                        font: cancel
//                      ANSWER is the next word of the comma-separated list in KESTRIN_ANSWERS
//                      (ok, cancel, yes, no) or, once the list is used up, the box's first button.
//                      In TEXT and CAPTION CR is written \r, LF \n, a backslash \\ and any other
//                      byte below 32 as \xNN.
//   make_dialogs()     picks UnattendedDialogs when KESTRIN_UNATTENDED is set and not empty.
//
// Tests install a recording fake of their own.

#include <QFont>
#include <QStringList>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

class QWidget;

enum class QuestionButtons { YesNo, OkCancel };

class Dialogs {
public:
    virtual ~Dialogs() = default;

    // A modal box with an OK button.
    virtual void Message(QWidget* owner, std::string_view text) = 0;
    // A modal question; true for Yes or OK, false for No, Cancel or the box closed otherwise.
    virtual bool Question(QWidget* owner, std::string_view caption, std::string_view text,
                          QuestionButtons buttons) = 0;
    // A file-open dialog; the chosen file's full path, or nothing when the operator cancels.
    // `filter` is written "Name (*.ext)|*.ext|..." as pairs of description and pattern.
    virtual std::optional<std::string> OpenFile(QWidget* owner, const std::string& initialDir,
                                                const std::string& filter) = 0;
    // A font dialog started on `current`; the chosen font, or nothing when cancelled.
    virtual std::optional<QFont> ChooseFont(QWidget* owner, const QFont& current) = 0;
    // Told every text that the status line shows.
    virtual void StatusShown(std::string_view /*text*/) {}
};

class QtDialogs final : public Dialogs {
public:
    void Message(QWidget* owner, std::string_view text) override;
    bool Question(QWidget* owner, std::string_view caption, std::string_view text,
                  QuestionButtons buttons) override;
    std::optional<std::string> OpenFile(QWidget* owner, const std::string& initialDir,
                                        const std::string& filter) override;
    std::optional<QFont> ChooseFont(QWidget* owner, const QFont& current) override;
};

class UnattendedDialogs final : public Dialogs {
public:
    // `answers` is the comma-separated list of KESTRIN_ANSWERS.
    explicit UnattendedDialogs(std::string_view answers);

    void Message(QWidget* owner, std::string_view text) override;
    bool Question(QWidget* owner, std::string_view caption, std::string_view text,
                  QuestionButtons buttons) override;
    std::optional<std::string> OpenFile(QWidget* owner, const std::string& initialDir,
                                        const std::string& filter) override;
    std::optional<QFont> ChooseFont(QWidget* owner, const QFont& current) override;
    void StatusShown(std::string_view text) override;

private:
    std::string NextAnswer(QuestionButtons buttons);

    QStringList answers_;
};

// The journal form of a text: CR as \r, LF as \n, backslash as \\, other bytes below 32 as \xNN.
std::string journal_escape(std::string_view text);

// Latin-1 bytes to a QString and back, for showing the system's single-byte texts.
QString latin1(std::string_view text);

// The text of a message box: a carriage return (or CR LF) ends a line; byte sequences that are
// valid UTF-8 (file names on Linux) are shown as such, every other byte as Latin-1.
QString message_box_text(std::string_view text);

std::unique_ptr<Dialogs> make_dialogs();
