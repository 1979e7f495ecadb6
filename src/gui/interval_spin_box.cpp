#include "gui/interval_spin_box.h"

#include <algorithm>

#include "core/text_util.h"

namespace quorvel::gui {

namespace {

// Longer texts are no number anyone types.
constexpr int kMaxTyped = 20;

}  // namespace

IntervalSpinBox::IntervalSpinBox(QWidget* parent) : QSpinBox(parent) {}

QValidator::State IntervalSpinBox::validate(QString& text, int& pos) const {
    if (text.size() > kMaxTyped) {
        return QValidator::Invalid;
    }
    const QValidator::State state = QSpinBox::validate(text, pos);
    return state == QValidator::Acceptable ? state : QValidator::Intermediate;
}

void IntervalSpinBox::fixup(QString& text) const {
    text = QString::number(valueFromText(text));
}

int IntervalSpinBox::valueFromText(const QString& text) const {
    const long long read = ReadCInteger(text.toStdString());
    return static_cast<int>(std::clamp<long long>(read, minimum(), maximum()));
}

}  // namespace quorvel::gui
