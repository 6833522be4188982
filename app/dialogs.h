#pragma once
// The dialog seam.
//
// Every message box, question, file-open dialog and font dialog of Kestrin goes through one
// `Dialogs` object owned by the main window, and so does every text put on the status line.
// Texts are the system's own single-byte texts (no character-set conversion).
//
//   QtDialogs          shows the modal Qt dialog with the buttons the caller names. A message or
//                      question shows its text as plain text, never as markup, so a script text
//                      or a file name reads as typed; see message_box_text(). A message's detail
//                      is the box's detailed text, one click away.
//   UnattendedDialogs  shows nothing; each dialog writes one journal line to standard error and
//                      returns at once:
//                        message: TEXT
//                        detail: TEXT               (right after its message, when it has one)
//                        question: CAPTION: TEXT -> ANSWER
//                        status: TEXT
//                        open: DIRECTORY -> PATH    (the path in KESTRIN_OPEN, when set)
//                        open: DIRECTORY -> cancel  (otherwise)
//                        font: cancel
//                      ANSWER is the next word of the comma-separated list in KESTRIN_ANSWERS
//                      (ok, cancel, yes, no) or, once the list is used up, the box's first button.
//                      For the caller of the run it also writes what the window would only show
//                      or not show at all:
//                        answer: TEXT               the unit's answer to each _QC
//                        progress: FILE SENT/TOTAL  while an image streams
//                        upload: FILE: HEADER -> complete   (or -> incomplete) when it has ended
//                        result: pass               (or result: fail: REASON) the last line of a
//                                                   run that ends by itself
//                        kestrin: VERSION           the program's version, as a run starts
//                        script: FILE: SHA256       the script file read, and its SHA-256
//                        image: FILE: LENGTH SHA256 an image _LA measured: its length and the
//                                                   SHA-256 of the bytes measured
//                      In every TEXT, CAPTION, FILE, HEADER and REASON CR is written \r, LF \n, a
//                      backslash \\ and any other byte below 32 as \xNN. SHA256 is 64 lower-case
//                      hexadecimal digits.
//                      When a line cannot be written because the journal's reader has gone
//                      (EPIPE), the handler given to on_journal_lost() runs, once, and no line is
//                      written after it.
//   make_dialogs()     picks UnattendedDialogs when KESTRIN_UNATTENDED is set and not empty
//                      (unattended_mode()).
//
// Message() is not virtual: it first tells the watcher (the main window's record of the run,
// which looks for the first "Error..." message) and then lets the implementation show the box.
// Tests install a recording fake of their own.

#include <QFont>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class QWidget;

enum class QuestionButtons { YesNo, OkCancel };

class Dialogs {
public:
    virtual ~Dialogs() = default;

    // A modal box with an OK button; `detail`, when not empty, says more than the text does.
    void Message(QWidget* owner, std::string_view text, std::string_view detail = {});
    // Told the text of every message before it is shown.
    void WatchMessages(std::function<void(std::string_view text)> watcher);
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

    // What only the caller of an unattended run learns; the window shows none of it.
    // The unit's answer to a query, as kept.
    virtual void AnswerGiven(std::string_view /*answer*/) {}
    // `sent` of the `total` bytes of the image `file` have gone out.
    virtual void ImageProgress(std::string_view /*file*/, int64_t /*sent*/, int64_t /*total*/) {}
    // The transfer of `file`, announced by `header` (without its carriage return), has ended.
    virtual void UploadEnded(std::string_view /*file*/, std::string_view /*header*/,
                             bool /*complete*/) {}
    // A run that ends by itself is over: "pass" or "fail: REASON".
    virtual void RunEnded(std::string_view /*result*/) {}
    // The program of this version starts its run.
    virtual void RunStarted(std::string_view /*version*/) {}
    // The script `file` was opened; `sha256` is its content's digest in lower-case hex.
    virtual void ScriptOpened(std::string_view /*file*/, std::string_view /*sha256*/) {}
    // _LA measured the image `file`: `length` bytes whose digest is `sha256`.
    virtual void ImageMeasured(std::string_view /*file*/, int64_t /*length*/,
                               std::string_view /*sha256*/) {}

protected:
    virtual void ShowMessage(QWidget* owner, std::string_view text, std::string_view detail) = 0;

private:
    std::function<void(std::string_view)> watcher_;
};

class QtDialogs final : public Dialogs {
public:
    bool Question(QWidget* owner, std::string_view caption, std::string_view text,
                  QuestionButtons buttons) override;
    std::optional<std::string> OpenFile(QWidget* owner, const std::string& initialDir,
                                        const std::string& filter) override;
    std::optional<QFont> ChooseFont(QWidget* owner, const QFont& current) override;

protected:
    void ShowMessage(QWidget* owner, std::string_view text, std::string_view detail) override;
};

class UnattendedDialogs final : public Dialogs {
public:
    // `answers` is the comma-separated list of KESTRIN_ANSWERS.
    explicit UnattendedDialogs(std::string_view answers);

    bool Question(QWidget* owner, std::string_view caption, std::string_view text,
                  QuestionButtons buttons) override;
    std::optional<std::string> OpenFile(QWidget* owner, const std::string& initialDir,
                                        const std::string& filter) override;
    std::optional<QFont> ChooseFont(QWidget* owner, const QFont& current) override;
    void StatusShown(std::string_view text) override;
    void AnswerGiven(std::string_view answer) override;
    void ImageProgress(std::string_view file, int64_t sent, int64_t total) override;
    void UploadEnded(std::string_view file, std::string_view header, bool complete) override;
    void RunEnded(std::string_view result) override;
    void RunStarted(std::string_view version) override;
    void ScriptOpened(std::string_view file, std::string_view sha256) override;
    void ImageMeasured(std::string_view file, int64_t length, std::string_view sha256) override;

protected:
    void ShowMessage(QWidget* owner, std::string_view text, std::string_view detail) override;

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

// Runs `handler` once when the journal's reader has gone (see UnattendedDialogs).
void on_journal_lost(std::function<void()> handler);

// True when KESTRIN_UNATTENDED is set and not empty.
bool unattended_mode();

std::unique_ptr<Dialogs> make_dialogs();
