#pragma once

// The settings window "Vyo 설정": a sidebar of the five panes with their badges and the version
// line at the bottom, and beside it the selected pane under its header. Fixed at 720 × 560. The
// window is made once and kept; the selected pane stays selected while the process lives.

#include <QHash>
#include <QString>
#include <QWidget>

class QListWidget;
class QStackedWidget;

namespace vyo {

class IconBadge;

// The panes, in sidebar order.
enum class SettingsPane { general, shake, watch, share, about };

struct SettingsPaneInfo
{
    QString rawValue;
    QString title;
    QString symbol;
    QColor color;
    QString subtitle;
};

const QList<SettingsPane> &allSettingsPanes();
SettingsPaneInfo settingsPaneInfo(SettingsPane pane);

// The view of each pane, made the first time the pane is selected (PaneViews.cpp).
QWidget *makePaneView(SettingsPane pane);

// The badge (size 44), title and subtitle over the selected pane. Children: "paneTitle",
// "paneSubtitle".
class PaneHeader : public QWidget
{
    Q_OBJECT
public:
    explicit PaneHeader(SettingsPane pane, QWidget *parent = nullptr);
};

class SettingsWindow : public QWidget
{
    Q_OBJECT
public:
    // The preferences key of the window's position.
    static constexpr auto positionKey = "VyoSettings";

    explicit SettingsWindow(QWidget *parent = nullptr);

    SettingsPane selection() const { return m_selection; }
    void select(SettingsPane pane);
    // The view of a pane, once it has been selected; null before.
    QWidget *paneView(SettingsPane pane) const { return m_views.value(pane); }

protected:
    void showEvent(QShowEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void savePosition();

    QListWidget *m_sidebar;
    QStackedWidget *m_stack;
    QHash<SettingsPane, QWidget *> m_views;
    QHash<SettingsPane, IconBadge *> m_badges;
    SettingsPane m_selection = SettingsPane::general;
    bool m_placed = false;
};

} // namespace vyo
