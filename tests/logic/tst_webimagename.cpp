// The rules for images from web pages: kinds by their first bytes, the stored name and its
// extension, Content-Disposition, <img> in dropped HTML and data: URLs.

#include "logic/WebImageName.h"

#include <QTest>

using namespace vyo;

Q_DECLARE_METATYPE(std::optional<QUrl>)

class TestWebImageName : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void kinds_data();
    void kinds();
    void names_data();
    void names();
    void contentDisposition_data();
    void contentDisposition();
    void htmlImage_data();
    void htmlImage();
    void dataUrls_data();
    void dataUrls();
};

void TestWebImageName::kinds_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QString>("extension");
    QTest::newRow("png") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) << "png";
    QTest::newRow("png cut") << QByteArray("\x89PNG\r\n\x1a", 7) << "";
    QTest::newRow("jpeg") << QByteArray("\xff\xd8\xff\xe0\0\x10JFIF") << "jpg";
    QTest::newRow("webp") << QByteArray("RIFF\x10\0\0\0WEBPVP8 ", 16) << "webp";
    QTest::newRow("riff not webp") << QByteArray("RIFF\x10\0\0\0WAVEfmt ", 16) << "";
    QTest::newRow("tiff") << QByteArray("II*\0\x08\0\0\0", 8) << "tiff";
    QTest::newRow("avif") << QByteArray::fromHex("0000001c") + "ftypavif"
                          << "avif";
    QTest::newRow("heic") << QByteArray::fromHex("00000018") + "ftypheic"
                          << "heic";
    QTest::newRow("mp4 is no image") << QByteArray::fromHex("00000018") + "ftypisom"
                                     << "";
    QTest::newRow("empty") << QByteArray() << "";
}

void TestWebImageName::kinds()
{
    QFETCH(QByteArray, head);
    QFETCH(QString, extension);
    QCOMPARE(imageKindOfBytes(head).value_or(ImageKind()).extension, extension);
}

void TestWebImageName::names_data()
{
    QTest::addColumn<QStringList>("candidates");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("expected");
    QTest::newRow("as named") << QStringList{"photo.jpg"} << "jpg"
                              << "photo.jpg";
    QTest::newRow("jpeg alias kept") << QStringList{"Photo.JPEG"} << "jpg"
                                     << "Photo.JPEG";
    QTest::newRow("wrong image extension") << QStringList{"red.jpg"} << "png"
                                           << "red.png";
    QTest::newRow("no extension") << QStringList{"noext"} << "jpg"
                                  << "noext.jpg";
    QTest::newRow("other extension kept") << QStringList{"show.php"} << "gif"
                                          << "show.php.gif";
    QTest::newRow("slashes and controls") << QStringList{"../a/b\x01"
                                                         "c.png"}
                                          << "png"
                                          << "_a_b_c.png";
    QTest::newRow("nothing usable") << QStringList{"", " "} << "png"
                                    << "이미지.png";
    QTest::newRow("long name keeps extension")
        << QStringList{QString(300, u'가')} << "png" << QString(83, u'가') + ".png";
}

void TestWebImageName::names()
{
    QFETCH(QStringList, candidates);
    QFETCH(QString, extension);
    QFETCH(QString, expected);
    QCOMPARE(webImageFileName(candidates, ImageKind{extension, {}}), expected);
}

void TestWebImageName::contentDisposition_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QString>("expected");
    QTest::newRow("quoted") << QByteArray("attachment; filename=\"a b.png\"") << "a b.png";
    QTest::newRow("escaped quote")
        << QByteArray(R"(inline; filename="say \"hi\".png")") << "say \"hi\".png";
    QTest::newRow("utf-8 preferred")
        << QByteArray("attachment; filename=\"x.png\"; filename*=UTF-8''%EA%B3%A0.png") << "고.png";
    QTest::newRow("none") << QByteArray("inline") << "";
    QTest::newRow("not a filename field") << QByteArray("inline; xfilename=a.png") << "";
}

void TestWebImageName::contentDisposition()
{
    QFETCH(QByteArray, header);
    QFETCH(QString, expected);
    QCOMPARE(contentDispositionFileName(header), expected);
}

void TestWebImageName::htmlImage_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<std::optional<QUrl>>("expected");
    const QUrl base("http://127.0.0.1:8/page/a.html");
    QTest::newRow("absolute") << R"(<img src="http://h/x.png">)"
                              << std::optional(QUrl("http://h/x.png"));
    QTest::newRow("in a link, relative, entities")
        << R"(<a href="/t"><IMG alt=x SRC='i.jpg?a=1&amp;b=2'></a>)"
        << std::optional(QUrl("http://127.0.0.1:8/page/i.jpg?a=1&b=2"));
    QTest::newRow("javascript refused")
        << R"re(<img src="javascript:alert(1)">)re" << std::optional<QUrl>();
    QTest::newRow("file refused") << R"(<img src="file:///etc/passwd">)" << std::optional<QUrl>();
    QTest::newRow("no image") << R"(<a href="http://h/">link</a>)" << std::optional<QUrl>();
}

void TestWebImageName::htmlImage()
{
    QFETCH(QString, html);
    QFETCH(std::optional<QUrl>, expected);
    QCOMPARE(imageUrlInHtml(html, QUrl("http://127.0.0.1:8/page/a.html")), expected);
}

void TestWebImageName::dataUrls_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("base64") << "data:image/gif;base64,R0lGODlh" << QByteArray("GIF89a");
    QTest::newRow("percent") << "data:image/svg+xml,%3Csvg%3E" << QByteArray("<svg>");
    QTest::newRow("not an image") << "data:text/html;base64,PGI+" << QByteArray();
    QTest::newRow("bad base64") << "data:image/png;base64,@@@" << QByteArray();
    QTest::newRow("web url") << "http://h/x.png" << QByteArray();
}

void TestWebImageName::dataUrls()
{
    QFETCH(QString, url);
    QFETCH(QByteArray, expected);
    QCOMPARE(dataImageBytes(QUrl(url)).value_or(QByteArray()), expected);
}

QTEST_GUILESS_MAIN(TestWebImageName)
#include "tst_webimagename.moc"
