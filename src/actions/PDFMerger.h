#pragma once

// Merging PDFs and images into one PDF with qpdf: every page of each PDF in order, each image as
// one page (a JPEG embedded as it is, other images losslessly), orientation applied. Safe on any
// thread.

#include "actions/QuickAction.h"

#include <QList>
#include <QString>

namespace vyo::PDFMerger {

// The name of the merged document.
QString resultFileName();

struct Input
{
    QString path;
    bool isPDF = false; // else an image
};

// The merged document "합친 문서.pdf" in a fresh output folder. A PDF that cannot be opened
// (damaged beyond repair, locked with a password) contributes nothing, a damaged one the pages that
// can be read; an image that cannot be read contributes nothing. Fails with `writeFailed` when no
// page could be added or the document cannot be written.
QuickAction::Result makeMergedPDF(const QList<Input> &inputs);

} // namespace vyo::PDFMerger
