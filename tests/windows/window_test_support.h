// Helpers of the window tests: a message-box service that records every box
// and answers it from a script, and a modal runner driven by the test.
#pragma once

#include "windows/message_box.h"

#include <gtest/gtest.h>

#include <QString>

#include <deque>
#include <functional>
#include <vector>

namespace zorm::test {

struct ShownBox {
    BoxKind Kind;
    QString Text;
    BoxButtons Buttons;
};

class ScriptedBoxes : public MessageBoxService {
public:
    // Answers of the coming questions, in order. A box with only OK needs no
    // answer; a question nobody scripted fails the test and gets "No".
    std::deque<BoxAnswer> Answers;
    std::vector<ShownBox> Shown;

    BoxAnswer Show(BoxKind kind, const QString& text, BoxButtons buttons) override {
        Shown.push_back({kind, text, buttons});
        if (buttons == BoxButtons::Ok) {
            return BoxAnswer::Ok;
        }
        if (Answers.empty()) {
            ADD_FAILURE() << "unexpected question: " << text.toStdString();
            return BoxAnswer::No;
        }
        const BoxAnswer answer = Answers.front();
        Answers.pop_front();
        return answer;
    }

    std::vector<QString> Texts() const {
        std::vector<QString> texts;
        for (const ShownBox& box : Shown) {
            texts.push_back(box.Text);
        }
        return texts;
    }
};

// Hands every modal window to the test instead of running an event loop.
class ScriptedModal : public ModalRunner {
public:
    std::function<int(QDialog&)> Drive;
    int Runs = 0;

    int Run(QDialog& dialog) override {
        ++Runs;
        return Drive ? Drive(dialog) : 0;
    }
};

} // namespace zorm::test
