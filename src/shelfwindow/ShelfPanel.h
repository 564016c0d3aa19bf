#pragma once

// The floating window of one shelf: frameless, above other windows, on every desktop, never
// taking focus when it appears (a click on it gives it the keyboard, so its keys work). The whole
// window is its drop view, which holds the shelf view and receives drops from other applications;
// the window handles the keys that work without a menu: Esc and Ctrl+W close, Ctrl+C copies,
// Ctrl+V pastes, Space toggles the preview.

#include "shelf/Shelf.h"
#include "shelfwindow/ShelfDropView.h"

#include <QPointer>
#include <QWidget>

#include <functional>

namespace vyo {

class ShelfCommands;

class ShelfPanel : public QWidget
{
    Q_OBJECT
public:
    explicit ShelfPanel(Shelf *shelf, QWidget *parent = nullptr);

    QPointer<ShelfCommands> commands;

    // Puts the shelf view into the window's drop view; the window takes the view's size.
    void setContent(QWidget *content);
    QWidget *content() const { return m_content; }
    ShelfDropView *dropView() const { return m_dropView; }

    // Whether a key press is one of the panel's own keys (and so handled by it).
    enum class KeyCommand { none, preview, close, copy, paste };
    static KeyCommand keyCommand(int key, Qt::KeyboardModifiers modifiers, quint32 nativeModifiers);

Q_SIGNALS:
    void moved();
    // Esc or Ctrl+W, and Ctrl+C on the panel.
    void closeRequested();
    void copyRequested();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // Whether the panel's window has the keyboard focus.
    bool hasKeyboard() const;
    void updateShape();

    ShelfDropView *m_dropView = nullptr;
    QWidget *m_content = nullptr;
    bool m_translucent = false;
};

} // namespace vyo
