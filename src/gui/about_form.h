#pragma once

#include <QDialog>
#include <QString>

#include <memory>

class QLabel;
class QMenu;

namespace Ui {
class AboutForm;
}

namespace quorvel::gui {

/// The about box: the version and build date with the credits, the
/// author's e-mail link and the homepage link. Created once and kept.
class AboutForm : public QDialog {
    Q_OBJECT

public:
    explicit AboutForm(QWidget* parent = nullptr);
    ~AboutForm() override;

    /// Shows the box modally, or brings it to the front when it is open.
    void ShowBox();
    /// The links' operations (also the main window's mail and homepage
    /// commands): open the target with the desktop's handler.
    void OpenMail() const;
    void OpenHomepage() const;

    /// "mailto:" the author "?Subject=" and the product and version in
    /// double quotes.
    static QString MailTarget();
    static QString HomepageTarget();
    /// The first line of the text block: product, version and build date.
    static QString VersionLine();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static void Open(const QString& target);
    QString TargetOf(const QObject* link) const;

    std::unique_ptr<Ui::AboutForm> m_ui;
    QMenu* m_locationMenu;
    QLabel* m_menuLink = nullptr;
    bool m_placed = false;
};

}  // namespace quorvel::gui
