#pragma once

// Reads the text of one image by running the text-recognition helper (vyo-ocr) as a separate
// process with OMP_THREAD_LIMIT=1 in its environment. A crash, a hang or a huge image ends in the
// helper, never in the application. Blocking; safe on any thread.

#include "actions/QuickAction.h"

#include <QString>

namespace vyo {

class TextRecognizer
{
public:
    // How long recognition may take before the helper is stopped: a dense page of text at the
    // size cap takes about 10 s of processor time, so this leaves room for a busy machine.
    static constexpr int defaultTimeoutMilliseconds = 120'000;

    // The helper program: next to the application's executable, else in the build tree.
    static QString defaultHelperPath();

    explicit TextRecognizer(QString helperPath = defaultHelperPath(),
                            int timeoutMilliseconds = defaultTimeoutMilliseconds);

    // The recognised lines joined with a line feed; `noText` when there are none, `unreadable`
    // (named after the file) when the image cannot be read or the helper crashes or runs out of
    // time, an underlying error when the helper or its language data is missing.
    QuickAction::Result recognizeText(const QString &imagePath) const;

private:
    QString m_helperPath;
    int m_timeoutMilliseconds;
};

} // namespace vyo
