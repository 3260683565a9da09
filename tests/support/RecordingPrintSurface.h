#pragma once

#include "PrintSurface.h"

#include <QString>

#include <memory>
#include <vector>

// A print target for tests: every surface it opens records what was printed into the target,
// with the position and font in force for each text item. Opening or ending can be made to fail.
class RecordingPrintTarget : public output::PrintTarget {
public:
    struct Item {
        QString text;
        double x;
        double y;
        output::PrintFont font;
    };

    std::unique_ptr<output::PrintSurface> open(store::Status* status) override {
        ++opened;
        if (!openFailure.ok()) {
            *status = openFailure;
            return nullptr;
        }
        return std::make_unique<Surface>(this);
    }

    std::vector<Item> items;
    int opened = 0;
    int ended = 0;
    store::Status openFailure;
    store::Status endFailure;

private:
    class Surface : public output::PrintSurface {
    public:
        explicit Surface(RecordingPrintTarget* target) : target_(target) {}
        void setFont(const output::PrintFont& font) override { font_ = font; }
        void setPosition(double x, double y) override {
            x_ = x;
            y_ = y;
        }
        void printText(const QString& text) override {
            target_->items.push_back({text, x_, y_, font_});
        }
        store::Status endDocument() override {
            ++target_->ended;
            return target_->endFailure;
        }

    private:
        RecordingPrintTarget* target_;
        // An item printed before any font is set shows up with an empty family.
        output::PrintFont font_{u"", 0, false};
        double x_ = -1;
        double y_ = -1;
    };
};
