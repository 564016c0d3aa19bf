#pragma once

// The shake pane of the settings window: shaking on or off, its sensitivity, and the
// applications in which a shake is ignored ("excludedBundleIDs", written whole on every change;
// the drag shake monitor reads it at each recognised shake, so changes apply at once).

#include <QStringList>
#include <QWidget>

class QButtonGroup;
class QVBoxLayout;

namespace vyo {

class Defaults;
class SettingLabel;
class SettingsSection;

// One excluded application: its icon and name when it is installed, else a question-mark icon
// and the identifier itself; "제거" removes it.
class ExcludedAppRow : public QWidget
{
    Q_OBJECT
public:
    explicit ExcludedAppRow(const QString &bundleID, QWidget *parent = nullptr);

    QString bundleID() const { return m_bundleID; }

Q_SIGNALS:
    void removeRequested();

private:
    QString m_bundleID;
};

class ShakePane : public QWidget
{
    Q_OBJECT
public:
    explicit ShakePane(Defaults &defaults, QWidget *parent = nullptr);
    explicit ShakePane(QWidget *parent = nullptr);

    // The pane's own list of excluded applications, as stored.
    const QStringList &excluded() const { return m_excluded; }
    // Appends each identifier not in the list yet, in order, and stores the list.
    void addExcluded(const QStringList &bundleIDs);
    // Removes every entry equal to `bundleID` and stores the list.
    void removeExcluded(const QString &bundleID);

private:
    void showSensitivity();
    void rebuildExcludedRows();
    void storeExcluded();
    void chooseApplications();

    Defaults &m_defaults;
    QStringList m_excluded;
    SettingsSection *m_sensitivitySection;
    QButtonGroup *m_sensitivity;
    SettingLabel *m_sensitivityLabel;
    QVBoxLayout *m_excludedRows;
};

} // namespace vyo
