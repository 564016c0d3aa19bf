#pragma once

// The licences of the software Vyo uses: the installed acknowledgements file as plain text,
// 480 × 560, with "닫기" (Return). Children: "licensesText", "closeButton".

#include <QDialog>

namespace vyo {

class LicensesSheet : public QDialog
{
    Q_OBJECT
public:
    // Shows the file at `path` (read as UTF-8), or the fallback text when it cannot be read.
    explicit LicensesSheet(const QString &path, QWidget *parent = nullptr);

    QString text() const { return m_text; }

    static QString readText(const QString &path);

private:
    QString m_text;
};

} // namespace vyo
