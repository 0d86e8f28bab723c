// SPDX-License-Identifier: GPL-3.0-or-later

#include "ui/Accessibility.h"

#include "ui/Controls.h"
#include "ui/DirectoryListBox.h"
#include "ui/DriveComboBox.h"
#include "ui/FileListBox.h"
#include "ui/MainForm.h"
#include "ui/ProgressBar.h"
#include "ui/StatusBar.h"
#include "ui/ToolBar.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QApplication>
#include <QPointer>

#include <vector>

namespace {

// One panel of the status bar: its name says what it shows, then what it shows.
class StatusPanelAccessible : public QAccessibleInterface {
public:
    StatusPanelAccessible(TStatusBar* bar, int index) : bar_(bar), index_(index) {}

    bool isValid() const override { return bar_ && index_ < bar_->PanelCount(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return Parent() ? Parent()->window() : nullptr; }
    QAccessibleInterface* parent() const override { return Parent(); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* focusChild() const override { return nullptr; }
    QAccessible::Role role() const override { return QAccessible::StaticText; }
    QAccessible::State state() const override {
        QAccessible::State state;
        state.readOnly = true;
        state.invisible = !bar_ || !bar_->isVisible();
        return state;
    }
    QRect rect() const override {
        if (!bar_)
            return {};
        const auto [left, right] = bar_->PanelSpan(index_);
        return {bar_->mapToGlobal(QPoint(left, 0)), QSize(right - left, bar_->height())};
    }
    QString text(QAccessible::Text kind) const override {
        if (!bar_)
            return {};
        const QString shown = bar_->PanelText(index_).trimmed();
        switch (kind) {
        case QAccessible::Name:
            return shown.isEmpty() ? bar_->PanelName(index_)
                                   : bar_->PanelName(index_) + QStringLiteral(": ") + shown;
        case QAccessible::Description:
            return bar_->PanelName(index_);
        case QAccessible::Value:
            return shown;
        default:
            return {};
        }
    }
    void setText(QAccessible::Text, const QString&) override {}

private:
    QAccessibleInterface* Parent() const {
        return bar_ ? QAccessible::queryAccessibleInterface(bar_.data()) : nullptr;
    }

    QPointer<TStatusBar> bar_;
    int index_;
};

class StatusBarAccessible : public QAccessibleWidget {
public:
    explicit StatusBarAccessible(TStatusBar* bar) : QAccessibleWidget(bar, QAccessible::StatusBar) {
        for (int i = 0; i < bar->PanelCount(); ++i) {
            auto* panel = new StatusPanelAccessible(bar, i);
            panels_.push_back(QAccessible::registerAccessibleInterface(panel));
        }
    }
    ~StatusBarAccessible() override {
        for (QAccessible::Id id : panels_)
            QAccessible::deleteAccessibleInterface(id);
    }

    int childCount() const override { return static_cast<int>(panels_.size()); }
    QAccessibleInterface* child(int index) const override {
        return index >= 0 && index < childCount()
                   ? QAccessible::accessibleInterface(panels_[static_cast<std::size_t>(index)])
                   : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        for (int i = 0; i < childCount(); ++i)
            if (this->child(i) == child)
                return i;
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        for (int i = 0; i < childCount(); ++i)
            if (child(i)->rect().contains(x, y))
                return child(i);
        return nullptr;
    }

private:
    std::vector<QAccessible::Id> panels_;
};

// The seek bar: position and range in milliseconds. Assistive technologies read
// it; seeking stays with the mouse and the keys.
class SeekBarAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit SeekBarAccessible(TProgressBar* bar)
        : QAccessibleWidget(bar, QAccessible::ProgressBar), bar_(bar) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ValueInterface ? static_cast<QAccessibleValueInterface*>(this)
                                                   : QAccessibleWidget::interface_cast(type);
    }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        return state;
    }
    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Value)
            return QString::number(bar_->Position());
        return QAccessibleWidget::text(kind);
    }
    QVariant currentValue() const override { return bar_->Position(); }
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override { return bar_->Max(); }
    QVariant minimumValue() const override { return bar_->Min(); }
    QVariant minimumStepSize() const override { return std::max(1, bar_->Max() / 100); }

private:
    TProgressBar* bar_;
};

// A press from an assistive technology runs once its call has been answered: a
// box the command opens would otherwise hold the caller until it is closed.
class ToolButtonAccessible : public QAccessibleWidget {
public:
    explicit ToolButtonAccessible(QAbstractButton* button)
        : QAccessibleWidget(button, QAccessible::Button) {}

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.pressed = Button()->isDown();
        return state;
    }
    QStringList actionNames() const override { return {pressAction()}; }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }
    void doAction(const QString& name) override {
        if (name != pressAction() || !widget()->isEnabled())
            return;
        // Not behind a box, as the window's own input.
        QMetaObject::invokeMethod(
            Button(),
            [button = Button()] {
                if (QApplication::activeModalWidget() == nullptr && button->isEnabled())
                    button->click();
            },
            Qt::QueuedConnection);
    }

private:
    QAbstractButton* Button() const { return static_cast<QAbstractButton*>(widget()); }
};

QAccessibleInterface* MakeAccessible(const QString& className, QObject* object) {
    if (!object || !object->isWidgetType())
        return nullptr;
    if (className == QLatin1String("TStatusBar"))
        return new StatusBarAccessible(static_cast<TStatusBar*>(object));
    if (className == QLatin1String("TProgressBar"))
        return new SeekBarAccessible(static_cast<TProgressBar*>(object));
    // The main window is a window to assistive technologies, its panels are panes.
    if (className == QLatin1String("TForm1"))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    if (className == QLatin1String("TPanel"))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Pane);
    if (className == QLatin1String("TToolButton"))
        return new ToolButtonAccessible(static_cast<QAbstractButton*>(object));
    if (className == QLatin1String("TToolSeparator"))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Separator);
    return nullptr;
}

} // namespace

void InstallAccessibility() {
    static bool installed = false;
    if (!installed)
        QAccessible::installFactory(MakeAccessible);
    installed = true;
}

void AnnouncePanelText(TStatusBar& bar, int index) {
    // The tick writes the time ten times a second: nothing to do without a listener.
    if (!QAccessible::isActive())
        return;
    QAccessibleInterface* barInterface = QAccessible::queryAccessibleInterface(&bar);
    QAccessibleInterface* panel = barInterface ? barInterface->child(index) : nullptr;
    if (!panel)
        return;
    QAccessibleEvent event(panel, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}

void AnnounceSeekPosition(TProgressBar& bar) {
    if (!QAccessible::isActive())
        return;
    QAccessibleValueChangeEvent event(&bar, bar.Position());
    QAccessible::updateAccessibility(&event);
}

void TForm1::NameComponents() {
    const auto name = [](QWidget* widget, const QString& accessibleName,
                         const QString& description = {}) {
        widget->setAccessibleName(accessibleName);
        if (!description.isEmpty())
            widget->setAccessibleDescription(description);
    };
    name(this, QStringLiteral("Qel"));
    name(Panel1, QStringLiteral("Browser"));
    // On Linux a combo box is named by its current text; what it is for goes here.
    name(DriveComboBox1, QStringLiteral("Drive"), QStringLiteral("Drive"));
    name(DirectoryListBox1, QStringLiteral("Folders"));
    name(FileListBox1, QStringLiteral("Files"),
         QStringLiteral("The selected files are the play list"));
    name(ToolBar1, QStringLiteral("Toolbar"));
    name(ToolButton1, QStringLiteral("Separator"));
    name(ToolButton2, QStringLiteral("Previous"), ToolButton2->toolTip());
    name(ToolButton3, QStringLiteral("Play"), ToolButton3->toolTip());
    name(ToolButton4, QStringLiteral("Pause"), ToolButton4->toolTip());
    name(ToolButton5, QStringLiteral("Stop"), ToolButton5->toolTip());
    name(ToolButton6, QStringLiteral("Next"), ToolButton6->toolTip());
    name(Panel2, QStringLiteral("Position"));
    name(ProgressBar1, QStringLiteral("Seek bar"));
    name(StatusBar1, QStringLiteral("Status"));
    name(Panel3, QStringLiteral("Video"));
    name(Image1, QStringLiteral("Qel"));
    name(Panel4, QStringLiteral("Opening"));
}
