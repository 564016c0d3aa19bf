#pragma once

// The shortcut recorder of a slot: a field that shows the slot's combination, records a new one
// after a click (the next combination pressed with Ctrl, Alt or Super, or a function key), and
// clears it with its clear button, Backspace or Delete. Esc or leaving the field ends recording
// without a change. Combinations that another application holds or that one of Vyo's own menus
// uses are refused with an alert. While it records, no global shortcut fires.

#include "shortcuts/KeyboardShortcuts.h"

#include <QLineEdit>
#include <QPointer>

class QAction;

namespace vyo::KeyboardShortcuts {

class Recorder : public QLineEdit
{
    Q_OBJECT
public:
    explicit Recorder(const Name &name, Registry &registry = Registry::shared(),
                      QWidget *parent = nullptr);
    ~Recorder() override;

    const Name &name() const { return m_name; }
    bool isRecording() const { return m_recording; }

    void startRecording();
    // Ends recording; the slot keeps its combination.
    void stopRecording();
    // Clears the slot's combination (its hot key goes; its actions stay for a later recording).
    void clearShortcut();

    // The alert texts: another application holds the combination, a menu item (named) uses it.
    static QString usedBySystemText();
    static QString usedByMenuItemText(const QString &menuItemTitle);
    static QString canBeChangedText();

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void refresh();
    void record(QKeyEvent *event);
    // The title of a menu item of the application that uses the combination, if any.
    QString menuItemUsing(const QKeySequence &sequence) const;

    Name m_name;
    QPointer<Registry> m_registry;
    QAction *m_clearAction = nullptr;
    bool m_recording = false;
};

} // namespace vyo::KeyboardShortcuts
