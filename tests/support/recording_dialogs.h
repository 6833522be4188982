#pragma once
// A dialog seam for tests: records every dialog and status text in order and answers questions,
// file dialogs and font dialogs from scripted lists (OK / Yes when a list is used up).

#include "app/dialogs.h"

#include <deque>
#include <string>
#include <vector>

class RecordingDialogs final : public Dialogs {
public:
    struct Shared {
        std::vector<std::string> messages;
        std::vector<std::string> questions;  // "CAPTION: TEXT"
        std::vector<std::string> statuses;
        std::vector<std::string> details;    // of messages that have one
        std::vector<std::string> events;     // every entry above, in order, with its kind
        std::deque<bool> answers;            // true = OK / Yes
        std::deque<std::optional<std::string>> files;
        std::deque<std::optional<QFont>> fonts;
        std::vector<std::string> openDirs;
        std::function<void(const std::string&)> onMessage; // runs while a message box is "open"
    };

    explicit RecordingDialogs(Shared& shared) : s_(shared) {}

    void ShowMessage(QWidget*, std::string_view text, std::string_view detail) override
    {
        s_.messages.emplace_back(text);
        s_.events.push_back("message: " + std::string(text));
        if (!detail.empty()) {
            s_.details.emplace_back(detail);
            s_.events.push_back("detail: " + std::string(detail));
        }
        if (s_.onMessage)
            s_.onMessage(std::string(text));
    }
    bool Question(QWidget*, std::string_view caption, std::string_view text,
                  QuestionButtons) override
    {
        s_.questions.push_back(std::string(caption) + ": " + std::string(text));
        s_.events.push_back("question: " + s_.questions.back());
        if (s_.answers.empty())
            return true;
        const bool answer = s_.answers.front();
        s_.answers.pop_front();
        return answer;
    }
    std::optional<std::string> OpenFile(QWidget*, const std::string& initialDir,
                                        const std::string&) override
    {
        s_.openDirs.push_back(initialDir);
        if (s_.files.empty())
            return std::nullopt;
        auto file = s_.files.front();
        s_.files.pop_front();
        return file;
    }
    std::optional<QFont> ChooseFont(QWidget*, const QFont&) override
    {
        if (s_.fonts.empty())
            return std::nullopt;
        auto font = s_.fonts.front();
        s_.fonts.pop_front();
        return font;
    }
    void StatusShown(std::string_view text) override
    {
        s_.statuses.emplace_back(text);
        s_.events.push_back("status: " + std::string(text));
    }
private:
    Shared& s_;
};
