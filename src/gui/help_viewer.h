#pragma once

#include <QMainWindow>
#include <QUrl>

#include <memory>

class QTextBrowser;

namespace Ui {
class HelpForm;
}

namespace quorvel::gui {

/// The window of the manual: a page with its links, the contents, back and
/// forward. It opens the pages of the manual's directory (local files) and
/// hands other links to the desktop.
class HelpViewer : public QMainWindow {
    Q_OBJECT

public:
    explicit HelpViewer(QWidget* parent = nullptr);
    ~HelpViewer() override;

    /// Shows page (a file URL, with an anchor or not); contents is the page
    /// the Contents button opens.
    void Open(const QUrl& page, const QUrl& contents);
    /// The buttons' texts, in the manual's language.
    void SetTexts(const QString& contents, const QString& back, const QString& forward);
    /// The page shown, with its anchor.
    QUrl Page() const;
    QTextBrowser& Browser();

private:
    std::unique_ptr<Ui::HelpForm> m_ui;
    QUrl m_contents;
};

}  // namespace quorvel::gui
