#pragma once

#include <QSpinBox>

namespace quorvel::gui {

/// A number field with up-down buttons that takes any text while typed and,
/// on leaving the field (or Enter), reads it as the C runtime reads an
/// integer and brings it into its range: below the minimum it shows the
/// minimum, above the maximum the maximum.
class IntervalSpinBox : public QSpinBox {
    Q_OBJECT

public:
    explicit IntervalSpinBox(QWidget* parent = nullptr);

    QValidator::State validate(QString& text, int& pos) const override;
    void fixup(QString& text) const override;
    int valueFromText(const QString& text) const override;
};

}  // namespace quorvel::gui
