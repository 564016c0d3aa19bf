#pragma once

// The chooser behind "앱 추가…": the installed applications with their icons and names, several
// chosen at once. It reports the chosen applications' identifiers and closes; it never blocks.

#include "platform/InstalledApplications.h"

#include <QDialog>
#include <QList>
#include <QStringList>

class QListWidget;
class QPushButton;

namespace vyo {

class ApplicationChooser : public QDialog
{
    Q_OBJECT
public:
    explicit ApplicationChooser(const QList<InstalledApplication> &applications,
                                QWidget *parent = nullptr);

Q_SIGNALS:
    // The identifiers of the chosen applications, in list order; not sent when cancelled.
    void applicationsChosen(const QStringList &applicationIDs);

private:
    void choose();

    QList<InstalledApplication> m_applications;
    QListWidget *m_list;
    QPushButton *m_add;
};

} // namespace vyo
