#pragma once

// The pieces every settings pane is built from: a coloured symbol badge, a row label, a status
// card, a clickable link row, and a grouped form of sections whose rows put a label on the left
// and a control (often a switch) on the right.
//
// Symbols are named as the settings texts name them ("gearshape.fill", "qrcode", …); one table
// maps each to icon-theme names, and a symbol no theme has is drawn as a letter in a circle.
// Widgets carry object names, listed beside each, so tests can find them.

#include <QAbstractButton>
#include <QColor>
#include <QFrame>
#include <QIcon>
#include <QScrollArea>
#include <QString>
#include <QWidget>

class QLabel;
class QVBoxLayout;

namespace vyo {

class Defaults;

// The colours of badges and cards.
enum class Tint { gray, red, orange, yellow, green, teal, blue, indigo, purple };
QColor tintColor(Tint tint);
// Shows a label as secondary text: in the text colour at 60 % and its font scaled.
void setSecondary(QLabel *label, qreal pointScale = 1.0);

// The icon of a symbol name from the icon theme, or a drawn letter when no theme has it.
QIcon symbolIcon(const QString &symbol);
// The icon-theme names a symbol is looked up under, in order (empty for an unknown symbol).
QStringList symbolThemeNames(const QString &symbol);

// A size × size rounded square tinted with the colour, the symbol on it. Prominent (a selected
// sidebar row): white on the highlight instead.
class IconBadge : public QWidget
{
    Q_OBJECT
public:
    IconBadge(const QString &symbol, const QColor &color, int size, QWidget *parent = nullptr);

    QString symbol() const { return m_symbol; }
    void setSymbol(const QString &symbol);
    void setColor(const QColor &color);
    bool isProminent() const { return m_prominent; }
    void setProminent(bool prominent);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_symbol;
    QColor m_color;
    int m_size;
    bool m_prominent = false;
};

// A row's label: a badge of size 24, the title, and below it an optional detail in small,
// secondary text. Children: "badge", "title", "detail".
class SettingLabel : public QWidget
{
    Q_OBJECT
public:
    SettingLabel(const QString &title, const QString &detail, const QString &symbol,
                 const QColor &color, QWidget *parent = nullptr);

    QString title() const;
    QString detail() const;
    // An empty detail hides the detail line.
    void setDetail(const QString &detail);

private:
    QLabel *m_title;
    QLabel *m_detail;
};

// A card with a tone-coloured symbol, a title and a detail. Children: "symbol", "title",
// "detail".
class StatusCard : public QFrame
{
    Q_OBJECT
public:
    enum class Tone { good, caution, bad, neutral };

    StatusCard(Tone tone, const QString &symbol, const QString &title, const QString &detail,
               QWidget *parent = nullptr);

    Tone tone() const { return m_tone; }
    QString symbol() const { return m_symbol; }
    QString title() const;
    QString detail() const;
    void set(Tone tone, const QString &symbol, const QString &title, const QString &detail);

    // Green, orange, red or the secondary text colour.
    static QColor toneColor(Tone tone);

private:
    Tone m_tone;
    QString m_symbol;
    QLabel *m_symbolLabel;
    QLabel *m_title;
    QLabel *m_detail;
};

// A whole-row button: the label widget, free space, and the trailing symbol small and faint.
// Clicking anywhere on the row emits clicked().
class LinkRow : public QAbstractButton
{
    Q_OBJECT
public:
    LinkRow(QWidget *label, const QString &trailingSymbol, QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};

// An on/off switch (a checkable button drawn as a sliding knob).
class SwitchControl : public QAbstractButton
{
    Q_OBJECT
public:
    explicit SwitchControl(QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};

// Keeps a switch and a boolean preference in step both ways: the switch shows the stored value
// and follows later changes; toggling it stores the new value.
void bindToDefaults(SwitchControl *control, Defaults &defaults, const QString &key);

// One row of a section: the label on the left, the control (if any) on the right.
class SettingsRow : public QWidget
{
    Q_OBJECT
public:
    SettingsRow(QWidget *label, QWidget *control, QWidget *parent = nullptr);

    QWidget *label() const { return m_label; }
    QWidget *control() const { return m_control; }
    // Adds a full-width line below the label and control (an error line, a list).
    void addBelow(QWidget *widget);

private:
    QWidget *m_label;
    QWidget *m_control;
    QVBoxLayout *m_layout;
};

// A section of a grouped form: an optional header above a rounded box of rows with separators,
// and an optional footer below. Children: "sectionHeader", "sectionFooter".
class SettingsSection : public QWidget
{
    Q_OBJECT
public:
    explicit SettingsSection(const QString &header = {}, QWidget *parent = nullptr);

    SettingsRow *addRow(QWidget *label, QWidget *control = nullptr);
    // A row that is one widget across the whole width.
    void addWidget(QWidget *widget);
    void setFooter(const QString &footer);

private:
    void addSeparatorIfNeeded();

    QFrame *m_box;
    QVBoxLayout *m_rows;
    QLabel *m_footer;
};

// A grouped form: sections stacked from the top, scrolling when they do not fit.
class SettingsForm : public QScrollArea
{
    Q_OBJECT
public:
    explicit SettingsForm(QWidget *parent = nullptr);

    SettingsSection *addSection(const QString &header = {});
    // Any other widget between the sections (a header block, a card).
    void addWidget(QWidget *widget);

private:
    QVBoxLayout *m_sections;
};

} // namespace vyo
