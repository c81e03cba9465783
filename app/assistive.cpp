// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/assistive.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QWidget>

namespace kestrel {
namespace {

constexpr char kHidden[] = "kestrelHiddenFromAssistiveTools";

bool IsHidden(const QObject* object) {
    return object->property(kHidden).toBool();
}

// A window whose hidden children are left out of its accessible children.
class WindowWithoutDecoration : public QAccessibleWidget {
public:
    explicit WindowWithoutDecoration(QWidget* window)
        : QAccessibleWidget(window, QAccessible::Dialog) {}

    int childCount() const override { return static_cast<int>(Shown().size()); }
    QAccessibleInterface* child(int index) const override {
        const QList<QWidget*> shown = Shown();
        if (index < 0 || index >= shown.size()) return nullptr;
        return QAccessible::queryAccessibleInterface(shown[index]);
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        if (!child) return -1;
        return static_cast<int>(Shown().indexOf(qobject_cast<QWidget*>(child->object())));
    }

private:
    QList<QWidget*> Shown() const {
        QList<QWidget*> shown;
        for (QObject* object : widget()->children()) {
            auto* control = qobject_cast<QWidget*>(object);
            if (control && !control->isWindow() && !IsHidden(control)) shown.append(control);
        }
        return shown;
    }
};

QAccessibleInterface* WindowFactory(const QString&, QObject* object) {
    auto* window = qobject_cast<QWidget*>(object);
    if (!window || !window->isWindow()) return nullptr;
    for (QObject* child : window->children())
        if (IsHidden(child)) return new WindowWithoutDecoration(window);
    return nullptr;
}

}  // namespace

void HideFromAssistiveTools(QWidget& control) {
    static const bool installed = [] {
        QAccessible::installFactory(WindowFactory);
        return true;
    }();
    (void)installed;
    control.setProperty(kHidden, true);
}

}  // namespace kestrel
