// vyo-ocr: recognises the Korean and English text of one image in a process of its own, so that
// the engine's threads, memory and any crash stay out of the application. The application starts
// it with OMP_THREAD_LIMIT=1 in the environment: the engine's OpenMP threads make recognition
// several times slower on a desktop, and the variable only takes effect when set before start.

#include "actions/ImageFile.h"
#include "actions/TextRecognitionHelper.h"

#include <QCoreApplication>
#include <QImage>
#include <QStringList>

#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include <sys/resource.h>

#include <cstdio>
#include <memory>
#include <optional>

using namespace vyo;
namespace Helper = vyo::TextRecognitionHelper;

namespace {

// Lines whose mean confidence is below this are noise the engine read into textures and edges;
// printed and screen text scores far above it.
constexpr float minimumLineConfidence = 50.0f;

void limitMemory()
{
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer reserves terabytes of address space for its shadow memory: under a cap
    // the helper could not even start. Sanitizer builds run it uncapped.
    return;
#endif
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = rlim_t(Helper::memoryLimitBytes);
    setrlimit(RLIMIT_AS, &limit);
}

// The recognised lines of the image, top to bottom as the engine orders its text blocks; nothing
// when recognition itself fails.
std::optional<QStringList> recognizedLines(tesseract::TessBaseAPI &engine, const QImage &source)
{
    const QImage image = source.convertToFormat(QImage::Format_RGB888);
    engine.SetImage(image.constBits(), image.width(), image.height(), 3, int(image.bytesPerLine()));
    if (engine.Recognize(nullptr) != 0)
        return std::nullopt;
    QStringList lines;
    std::unique_ptr<tesseract::ResultIterator> it(engine.GetIterator());
    if (!it)
        return lines;
    do {
        if (it->Empty(tesseract::RIL_TEXTLINE))
            continue;
        if (it->Confidence(tesseract::RIL_TEXTLINE) < minimumLineConfidence)
            continue;
        const std::unique_ptr<char[]> text(it->GetUTF8Text(tesseract::RIL_TEXTLINE));
        if (!text)
            continue;
        // Gaps between columns come out as long runs of spaces.
        const QString line = QString::fromUtf8(text.get()).simplified();
        if (!line.isEmpty())
            lines.append(line);
    } while (it->Next(tesseract::RIL_TEXTLINE));
    return lines;
}

} // namespace

int main(int argc, char **argv)
{
    limitMemory();
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 2) {
        std::fprintf(stderr, "usage: %s IMAGE\n", Helper::programName);
        return Helper::usage;
    }

    const ImageFile file(arguments.at(1));
    const QImage image = file.read(Helper::maximumLongSide);
    if (image.isNull()) {
        std::fprintf(stderr, "cannot read the image: %s\n", qPrintable(file.errorString()));
        return Helper::unreadable;
    }

    tesseract::TessBaseAPI engine;
    // Korean first: with English first the engine puts spaces between Hangul syllables. No data
    // path: the engine's own (or TESSDATA_PREFIX).
    if (engine.Init(nullptr, "kor+eng", tesseract::OEM_LSTM_ONLY) != 0) {
        std::fprintf(stderr, "cannot load the kor+eng recognition data\n");
        return Helper::engineFailed;
    }
    // Full page-layout analysis (PSM_AUTO) takes blocks of Hangul and whole columns of screenshots
    // for pictures and drops them; reading the image as one column of text of varying sizes
    // keeps every line (side-by-side columns share their lines) and still finds nothing in
    // photos.
    engine.SetPageSegMode(tesseract::PSM_SINGLE_COLUMN);
    // Screenshots and photos carry no useful resolution; 300 dpi is what the models expect.
    engine.SetVariable("user_defined_dpi", "300");

    const std::optional<QStringList> lines = recognizedLines(engine, image);
    engine.End();
    if (!lines) {
        std::fprintf(stderr, "recognition failed\n");
        return Helper::engineFailed;
    }
    if (lines->isEmpty())
        return Helper::noText;
    const QByteArray text = lines->join(u'\n').toUtf8();
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    return std::fflush(stdout) == 0 ? Helper::foundText : Helper::engineFailed;
}
