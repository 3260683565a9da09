#pragma once

#include "Messages.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <vector>

// A message layer for tests: records every box the program asked for and answers questions from
// a queue of prepared answers. A question with no answer queued is answered Cancel (or No for a
// yes/no question) and recorded as unexpected, so a test never blocks on a box.
class ScriptedMessages : public store::MessageLayer {
public:
    enum class Kind { Notice, Inform, YesNo, YesNoCancel };
    struct Box {
        Kind kind;
        QString text;
        QString title;
        Icon icon = Icon::None;
        Answer defaultAnswer = Answer::Ok;
        Answer answer = Answer::Ok;
    };

    void queue(Answer answer) { answers_.push_back(answer); }
    // The file the next file chooser returns, as if the user had chosen it (empty: cancelled).
    void queueFile(const QString& path) { files_.push_back(path); }

    void notice(const QString& text) override {
        boxes.push_back(
            {Kind::Notice, text, store::kDefaultTitle, Icon::None, Answer::Ok, Answer::Ok});
    }
    void inform(const QString& text, const QString& title, Icon icon) override {
        boxes.push_back({Kind::Inform, text, title, icon, Answer::Ok, Answer::Ok});
    }
    Answer askYesNo(const QString& text, const QString& title, Answer defaultAnswer) override {
        return ask(Kind::YesNo, text, title, defaultAnswer, Answer::No);
    }
    Answer askYesNoCancel(const QString& text, const QString& title,
                          Answer defaultAnswer) override {
        return ask(Kind::YesNoCancel, text, title, defaultAnswer, Answer::Cancel);
    }
    QString chooseFileToOpen(const QString& title, const QString&, const QString&) override {
        choosers.append(title);
        if (files_.empty()) {
            ++unanswered;
            return {};
        }
        QString path = files_.front();
        files_.pop_front();
        return path;
    }

    QStringList texts() const {
        QStringList list;
        for (const Box& b : boxes)
            list.append(b.text);
        return list;
    }
    void clear() {
        boxes.clear();
        answers_.clear();
        files_.clear();
        choosers.clear();
        unanswered = 0;
    }

    std::vector<Box> boxes;
    QStringList choosers; // the titles of the file choosers opened
    int unanswered = 0;   // questions and file choosers with no prepared answer

private:
    Answer ask(Kind kind, const QString& text, const QString& title, Answer defaultAnswer,
               Answer fallback) {
        Answer answer = fallback;
        if (answers_.empty()) {
            ++unanswered;
        } else {
            answer = answers_.front();
            answers_.pop_front();
        }
        boxes.push_back({kind, text, title, Icon::None, defaultAnswer, answer});
        return answer;
    }
    std::deque<Answer> answers_;
    std::deque<QString> files_;
};
