#include "gui/form_translator.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabBar>
#include <QTabWidget>
#include <QToolBar>
#include <QWidget>

#include <algorithm>

#include "gui/list_header.h"
#include "settings/ini_file.h"
#include "settings/lang.h"

namespace quorvel::gui {

namespace {

class Reader {
public:
    Reader(const IniFile& file, std::string section)
        : m_file(file), m_section(std::move(section)) {}
    QString Get(const QString& key, const QString& current) const {
        const std::string value =
            m_file.GetString(m_section, key.toStdString(), current.toStdString());
        return QString::fromStdString(value);
    }

private:
    const IniFile& m_file;
    std::string m_section;
};

// The window a part belongs to: the nearest window among its ancestors (a
// menu counts as part of the window it hangs from).
const QWidget* OwnerWindow(const QObject* part) {
    for (const QObject* o = part; o != nullptr; o = o->parent()) {
        const auto* w = qobject_cast<const QWidget*>(o);
        if (w != nullptr && w->isWindow() && qobject_cast<const QMenu*>(w) == nullptr) {
            return w;
        }
    }
    return nullptr;
}

bool Skipped(const QObject* object) {
    return object->objectName().isEmpty() || object->property(kNotTranslated).toBool();
}

void Hint(const Reader& r, const QString& k, QWidget* w) {
    w->setToolTip(r.Get(k + ".Hint", w->toolTip()));
}

// A page of a tab widget: its caption and hint are the tab's.
bool TranslateTabPage(const Reader& r, const QString& k, QWidget* w) {
    auto* stack = qobject_cast<QStackedWidget*>(w->parentWidget());
    auto* tabs = stack != nullptr ? qobject_cast<QTabWidget*>(stack->parentWidget()) : nullptr;
    if (tabs == nullptr) {
        return false;
    }
    const int index = tabs->indexOf(w);
    if (index < 0) {
        return false;
    }
    tabs->setTabText(index, r.Get(k + ".Caption", tabs->tabText(index)));
    tabs->setTabToolTip(index, r.Get(k + ".Hint", tabs->tabToolTip(index)));
    return true;
}

void TranslatePart(const Reader& r, QObject* part) {
    const QString k = part->objectName();
    if (auto* action = qobject_cast<QAction*>(part)) {
        action->setText(r.Get(k + ".Caption", action->text()));
        // A tool button's hint is its tooltip; menu entries have none.
        const auto owners = action->associatedObjects();
        const bool toolButton = std::any_of(owners.begin(), owners.end(), [](QObject* o) {
            return qobject_cast<QToolBar*>(o) != nullptr;
        });
        if (toolButton) {
            action->setToolTip(r.Get(k + ".Hint", action->toolTip()));
        }
        return;
    }
    if (auto* menu = qobject_cast<QMenu*>(part)) {
        menu->setTitle(r.Get(k + ".Caption", menu->title()));
        return;
    }
    auto* w = qobject_cast<QWidget*>(part);
    if (w == nullptr) {
        return;
    }
    if (TranslateTabPage(r, k, w)) {
        return;
    }
    if (auto* label = qobject_cast<QLabel*>(w)) {
        QString text = r.Get(k + ".Caption", label->text());
        // The label of a field is addressed by the field's name
        // ("intervalEdit.Caption").
        if (const QWidget* field = label->buddy();
            field != nullptr && !field->objectName().isEmpty() &&
            qobject_cast<const QAbstractButton*>(field) == nullptr) {
            text = r.Get(field->objectName() + ".Caption", text);
        }
        label->setText(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setText(r.Get(k + ".Caption", button->text()));
        Hint(r, k, w);
    } else if (auto* box = qobject_cast<QGroupBox*>(w)) {
        QString caption = r.Get(k + ".Caption", box->title()).trimmed();
        box->setTitle(caption.isEmpty() ? caption : QStringLiteral(" ") + caption + " ");
        Hint(r, k, w);
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        Hint(r, k, w);
        for (int i = 0; i < combo->count(); ++i) {
            combo->setItemText(i, r.Get(k + ".Item." + QString::number(i), combo->itemText(i)));
        }
    } else if (auto* header = qobject_cast<ListHeader*>(w)) {
        Hint(r, k, w);
        for (int i = 0; i < header->count(); ++i) {
            header->SetSectionText(
                i, r.Get(k + ".Section." + QString::number(i), header->SectionText(i)));
        }
    } else if (auto* view = qobject_cast<QAbstractItemView*>(w)) {
        Hint(r, k, w);
        if (QAbstractItemModel* model = view->model()) {
            for (int i = 0; i < model->columnCount(); ++i) {
                const QString title = model->headerData(i, Qt::Horizontal).toString();
                model->setHeaderData(i, Qt::Horizontal,
                                     r.Get(k + ".Column." + QString::number(i), title));
            }
        }
    } else if (qobject_cast<QLineEdit*>(w) != nullptr ||
               qobject_cast<QKeySequenceEdit*>(w) != nullptr ||
               qobject_cast<QPlainTextEdit*>(w) != nullptr ||
               qobject_cast<QAbstractSpinBox*>(w) != nullptr ||
               qobject_cast<QTabWidget*>(w) != nullptr) {
        Hint(r, k, w);
    }
}

}  // namespace

void TranslateForm(QWidget* window, const IniFile& file) {
    if (window == nullptr || window->objectName().isEmpty()) {
        return;
    }
    const Reader r(file, "Form." + window->objectName().toStdString());
    if (!window->property(kNotTranslated).toBool()) {
        window->setWindowTitle(r.Get("Caption", window->windowTitle()));
    }
    for (QObject* part : window->findChildren<QObject*>()) {
        // A dialog owned by this window is translated from its own section.
        if (!Skipped(part) && OwnerWindow(part) == window) {
            TranslatePart(r, part);
        }
    }
    // Texts of another length: tab bars measure their tabs anew, the
    // layouts follow, and the window is at least as large as they need.
    for (QTabBar* bar : window->findChildren<QTabBar*>()) {
        if (OwnerWindow(bar) == window) {
            QEvent restyle(QEvent::StyleChange);
            QCoreApplication::sendEvent(bar, &restyle);
            bar->updateGeometry();
        }
    }
    if (QLayout* layout = window->layout()) {
        layout->invalidate();
        layout->activate();
    }
    if (window->isWindow()) {
        window->resize(window->size().expandedTo(window->minimumSizeHint()));
    }
}

void FillLanguageMenu(QMenu* menu, const Lang& lang,
                      const std::function<void(const QString& fileName)>& chosen) {
    const QDir directory(QString::fromStdString(lang.Directory()));
    QStringList files = directory.entryList({QStringLiteral("*.lng")}, QDir::Files);
    if (files.isEmpty()) {
        return;
    }
    std::sort(files.begin(), files.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    menu->clear();
    auto* group = new QActionGroup(menu);
    group->setExclusive(true);
    const QString current = QString::fromStdString(lang.FilePath());
    for (const QString& f : files) {
        IniFile file;
        file.Load(directory.filePath(f).toStdString());
        const QString national =
            QString::fromStdString(file.GetString("General", "NationalLangName", ""));
        const QString english = QString::fromStdString(
            file.GetString("General", "EnglishLangName", f.section('.', 0, 0).toStdString()));
        QAction* entry = menu->addAction(national + " (" + english + ")");
        entry->setCheckable(true);
        entry->setStatusTip(f);
        entry->setData(f);
        entry->setProperty(kNotTranslated, true);
        entry->setChecked(directory.filePath(f).compare(current, Qt::CaseInsensitive) == 0);
        group->addAction(entry);
        QObject::connect(entry, &QAction::triggered, menu, [chosen, f] { chosen(f); });
    }
}

}  // namespace quorvel::gui
