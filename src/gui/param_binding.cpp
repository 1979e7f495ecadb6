#include "gui/param_binding.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>

#include "core/text_util.h"
#include "gui/dialog_tools.h"

namespace quorvel::gui {

void ParamBindings::ShowText(QLineEdit* field, const std::string& value) {
    m_shown[field] = value;
    field->setText(QString::fromStdString(value));
}

std::string ParamBindings::ReadText(const QLineEdit* field) const {
    const QString text = field->text();
    // An unchanged value goes back exactly as it came, unless it holds a
    // line break, which no configuration line can hold.
    if (auto it = m_shown.find(field); it != m_shown.end() && !HasLineBreak(it->second) &&
                                       QString::fromStdString(it->second) == text) {
        return it->second;
    }
    return WithoutLineBreaks(text, m_lists.count(field) != 0 ? QChar(';') : QChar(' '))
        .toStdString();
}

void ParamBindings::Show(const ParamList& params, const std::vector<ParamBinding>& bindings) {
    for (const ParamBinding& b : bindings) {
        Param* param = params.Find(b.key);
        auto* number = dynamic_cast<IntParam*>(param);
        auto* flag = dynamic_cast<BoolParam*>(param);
        if (auto* field = qobject_cast<QLineEdit*>(b.control)) {
            if (number != nullptr) {
                field->setText(QString::number(number->Value()));
            } else if (auto* text = dynamic_cast<StringParam*>(param)) {
                ShowText(field, text->Value());
            }
        } else if (auto* radio = qobject_cast<QRadioButton*>(b.control)) {
            const bool on = flag != nullptr ? flag->Value() : number != nullptr && number->Value();
            radio->setChecked(on);
            if (b.otherwise != nullptr) {
                b.otherwise->setChecked(!on);
            }
        } else if (auto* box = qobject_cast<QCheckBox*>(b.control)) {
            if (flag != nullptr) {
                box->setChecked(flag->Value());
            }
        } else if (auto* combo = qobject_cast<QComboBox*>(b.control)) {
            if (number != nullptr) {
                combo->setCurrentIndex(number->Value() < combo->count() ? number->Value() : 0);
            }
        }
    }
}

void ParamBindings::Store(ParamList& params, const std::vector<ParamBinding>& bindings) const {
    for (const ParamBinding& b : bindings) {
        Param* param = params.Find(b.key);
        auto* number = dynamic_cast<IntParam*>(param);
        auto* flag = dynamic_cast<BoolParam*>(param);
        if (auto* field = qobject_cast<QLineEdit*>(b.control)) {
            if (number != nullptr) {
                number->SetValue(ReadCInteger(field->text().toStdString()));
            } else if (auto* text = dynamic_cast<StringParam*>(param)) {
                text->SetFromString(ReadText(field));
            }
        } else if (auto* radio = qobject_cast<QRadioButton*>(b.control)) {
            if (flag != nullptr) {
                flag->SetValue(radio->isChecked());
            } else if (number != nullptr) {
                number->SetValue(radio->isChecked() ? 1 : 0);
            }
        } else if (auto* box = qobject_cast<QCheckBox*>(b.control)) {
            if (flag != nullptr) {
                flag->SetValue(box->isChecked());
            }
        } else if (auto* combo = qobject_cast<QComboBox*>(b.control)) {
            if (number != nullptr) {
                number->SetValue(combo->currentIndex());
            }
        }
    }
}

}  // namespace quorvel::gui
