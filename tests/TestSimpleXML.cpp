// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "platform/Exceptions.h"
#include "support/TestSupport.h"
#include "xml/SimpleXML.h"

#include <QBuffer>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace {

IXmlDocument Load(const QByteArray& Bytes) {
    IXmlDocument Document = CreateDocument(QString(), QString(), QString());
    QBuffer Buffer;
    Buffer.setData(Bytes);
    Buffer.open(QIODevice::ReadOnly);
    Document->LoadFromStream(Buffer);
    return Document;
}

IXmlDocument LoadText(const QString& Text) {
    return Load(support::Utf16Bytes(Text));
}

// The message of the error loading raises, or "" when it loads.
QString LoadError(const QString& Text) {
    try {
        LoadText(Text);
        return QString();
    } catch (const Exception& E) {
        return E.Message();
    }
}

} // namespace

class TestSimpleXML : public QObject {
    Q_OBJECT
private slots:
    void WritesTheDesignedTextForm();
    void WritesEmptyAndNestedElements();
    void EscapesAndReadsBack();
    void KeepsTextAsReadAndDropsBlankRuns();
    void TrimsCDATAAndSplitsItsTerminator();
    void StopsTheDocumentAtATopLevelEndTag();
    void ReadsEightBitFilesAsNoDocument();
    void KeepsTheFirstPlaceAndLastValueOfAnAttribute();
    void ReadsCharacterReferencesBeyond16Bits();
    void RejectsMalformedInput_data();
    void RejectsMalformedInput();
    void SurvivesHostileInput();
    void RoundTripsThroughAFile();
    void ReportsAFileThatCannotBeCreated();
    void LoadsTheFuzzCorpusWithoutCrashing();
};

void TestSimpleXML::WritesTheDesignedTextForm() {
    IXmlDocument Document = CreateDocument("a", "1.0", QString());
    Document->DocumentElement()->AddChildElement("b")->SetText("x<y");
    QCOMPARE(Document->Xml(), QString("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<a>\r\n\t<b>"
                                      "x&lt;y</b>\r\n</a>"));
    QCOMPARE(CreateDocument(QString(), "1.0", QString())->Xml(), QString());
    QVERIFY(!CreateDocument(QString(), "1.0", QString())->DocumentElement());
}

void TestSimpleXML::WritesEmptyAndNestedElements() {
    IXmlDocument Document = CreateDocument("r", "1.0", "UTF-8");
    IXmlElement Level1 = Document->DocumentElement()->AddChildElement("one");
    Level1->AddChildElement("two")->SetText("deep");
    Document->DocumentElement()->AddChildElement("empty")->SetText(QString());
    QCOMPARE(Document->Xml(), QString("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<r>\r\n\t<one>"
                                      "\r\n\t\t<two>deep</two>\r\n\t</one>\r\n\t<empty/>\r\n</r>"));
    const IXmlDocument Loaded = LoadText(Document->Xml());
    QCOMPARE(Loaded->DocumentElement()->ChildText("empty", "fallback"), QString());
    QCOMPARE(Loaded->DocumentElement()->ChildText("missing", "fallback"), QString("fallback"));
}

void TestSimpleXML::EscapesAndReadsBack() {
    IXmlDocument Document = CreateDocument("r", "1.0", QString());
    Document->DocumentElement()->AddChildElement("a")->SetText("x<y");
    Document->DocumentElement()->AddChildElement("b")->SetText("a & b");
    Document->DocumentElement()->AddChildElement("c")->SetText("it's \"q\" >");
    const QString Xml = Document->Xml();
    QVERIFY(Xml.contains("<a>x&lt;y</a>"));
    QVERIFY(Xml.contains("<b>a &amp; b</b>"));
    QVERIFY(Xml.contains("<c>it's &quot;q&quot; &gt;</c>"));
    const IXmlElement Root = LoadText(Xml)->DocumentElement();
    QCOMPARE(Root->ChildText("a", QString()), QString("x<y"));
    QCOMPARE(Root->ChildText("b", QString()), QString("a & b"));
    QCOMPARE(Root->ChildText("c", QString()), QString("it's \"q\" >"));
}

void TestSimpleXML::KeepsTextAsReadAndDropsBlankRuns() {
    IXmlElement Root = LoadText("<r><a> en </a><b>\r\n   \r\n</b></r>")->DocumentElement();
    QCOMPARE(Root->ChildText("a", QString()), QString(" en "));
    QCOMPARE(Root->ChildNodes().size(), 2);
    QCOMPARE(Root->ChildNodes()[1]->ChildNodes().size(), 0);
    QCOMPARE(Root->ChildText("b", "x"), QString());
    QCOMPARE(LoadText("<r>one<a>two</a><!--c-->three</r>")->DocumentElement()->GetText(),
             QString("one two three"));
}

void TestSimpleXML::TrimsCDATAAndSplitsItsTerminator() {
    QCOMPARE(LoadText("<a><![CDATA[ en ]]></a>")->DocumentElement()->GetText(), QString("en"));
    IXmlDocument Document = CreateDocument(QString(), QString(), QString());
    Document->AppendChild(IXmlNode(new TXmlCDATASection("x]]>y")));
    QCOMPARE(Document->Xml(), QString("<![CDATA[x]]]><![CDATA[]>y]]>"));
}

void TestSimpleXML::StopsTheDocumentAtATopLevelEndTag() {
    const IXmlDocument Document = LoadText("</x><a>ignored</a>");
    QCOMPARE(Document->ChildNodes().size(), 0);
    QCOMPARE(Load(QByteArray())->ChildNodes().size(), 0);
    QVERIFY(!Load(QByteArray())->DocumentElement());
}

void TestSimpleXML::ReadsEightBitFilesAsNoDocument() {
    const QByteArray EightBit = "<?xml version=\"1.0\"?>\r\n<options><language>de</language>"
                                "</options>";
    const IXmlDocument Document = Load(EightBit);
    QVERIFY(!Document->DocumentElement());
    // An odd last byte is left out.
    QVERIFY(!Load(EightBit + "x")->DocumentElement());
}

void TestSimpleXML::KeepsTheFirstPlaceAndLastValueOfAnAttribute() {
    const IXmlElement Root = LoadText("<r a=\"1\" b='2' a=\"3\"/>")->DocumentElement();
    QCOMPARE(Root->Attributes().size(), 2);
    QCOMPARE(Root->Attributes()[0].Name, QString("a"));
    QCOMPARE(Root->Attributes()[0].Value, QString("3"));
    QCOMPARE(Root->Attributes()[1].Value, QString("2"));
}

void TestSimpleXML::ReadsCharacterReferencesBeyond16Bits() {
    const QString Text = LoadText("<r>&#x1F600;&#65;&#x10FFFF;&#1114112;&#99999999999999;</r>")
                             ->DocumentElement()
                             ->GetText();
    QCOMPARE(Text, QString::fromUcs4(U"\U0001F600A\U0010FFFF\uFFFD\uFFFD"));
}

void TestSimpleXML::RejectsMalformedInput_data() {
    QTest::addColumn<QString>("Input");
    QTest::addColumn<QString>("Message");
    QTest::newRow("end tag of a missing") << "<a><b>x</b>"
                                          << "Ожидается \"/\"";
    QTest::newRow("name start") << "<1a/>"
                                << "Имя должно начинаться с буквы или \"_\"";
    QTest::newRow("number") << "<a>&#;</a>"
                            << "Ожидается число";
    QTest::newRow("number at end") << "<a>&#"
                                   << "Ожидается число";
    QTest::newRow("hex number") << "<a>&#xg;</a>"
                                << "Ожидается шестнадцатеричное число";
    QTest::newRow("lone ampersand") << "<a>&"
                                    << "Ожидается \"#\" или имя упрамляющего символа";
    QTest::newRow("reference name") << "<a>&nbsp;</a>"
                                    << "Некорректное имя управляющего символа";
    QTest::newRow("semicolon") << "<a>&amp</a>"
                               << "Ожидается \";\"";
    QTest::newRow("equals") << "<a b \"1\"/>"
                            << "Ожидается \"=\"";
    QTest::newRow("start tag close") << "<a b=\"1\"?>"
                                     << "Ожидается \">\"";
    QTest::newRow("empty tag close") << "<a /x>"
                                     << "Ожидается \"/>\"";
    QTest::newRow("end tag close") << "<a></a x"
                                   << "Ожидается \">\"";
    QTest::newRow("end tag name") << "<a></b>"
                                  << "Ожидается \"a\"";
    QTest::newRow("declaration close") << "<?xml version=\"1.0\""
                                       << "Ожидается \"?>\"";
    QTest::newRow("pi close") << "<?p data"
                              << "Ожидается \"?>\"";
    QTest::newRow("comment start") << "<!-x-->"
                                   << "Ожидается \"--\"";
    QTest::newRow("comment end") << "<!-- x"
                                 << "Ожидается \"-->\"";
    QTest::newRow("cdata start") << "<![CDAT[x]]>"
                                 << "Ожидается \"[CDATA[\"";
    QTest::newRow("cdata end") << "<a><![CDATA[x</a>"
                               << "Ожидается \"]]>\"";
    QTest::newRow("doctype") << "<!ELEMENT x>"
                             << "Ожидается \"DOCTYPE\"";
    QTest::newRow("doctype end") << "<!DOCTYPE x"
                                 << "Ожидается \">\"";
    QTest::newRow("closing quote") << "<a b=\"1/>"
                                   << "Ожидается \"\"\"";
    QTest::newRow("lt in attribute") << "<a b=\"<\"/>"
                                     << "Символ \"<\" не может использоваться в значениях "
                                        "атрибутов";
    QTest::newRow("attribute value") << "<a b="
                                     << "Ожидается значение атрибута";
    QTest::newRow("unquoted value") << "<a b=1/>"
                                    << "Ожидается строковая константа";
    QTest::newRow("element at end") << "<abc"
                                    << "Не завершено определение элемента";
    QTest::newRow("bad name char") << "<a*b/>"
                                   << "Некорретный символ в имени элемента";
}

void TestSimpleXML::RejectsMalformedInput() {
    QFETCH(QString, Input);
    QFETCH(QString, Message);
    QCOMPARE(LoadError(Input), Message);
}

void TestSimpleXML::SurvivesHostileInput() {
    // 100,000 nested elements: refused past the depth limit, never a stack overflow.
    QString Deep;
    for (int I = 0; I < 100000; ++I)
        Deep += "<a>";
    QVERIFY(LoadError(Deep).contains(QString::number(MaxXmlDepth)));
    QString Fine;
    for (int I = 0; I < MaxXmlDepth; ++I)
        Fine += "<a>";
    QCOMPARE(LoadError(Fine), QString("Ожидается \"/\""));

    const QString Huge(4 * 1024 * 1024, u'v');
    QCOMPARE(LoadText("<a b=\"" + Huge + "\"/>")->DocumentElement()->GetAttribute("b").size(),
             Huge.size());
    QString Many = "<a";
    for (int I = 0; I < 50000; ++I)
        Many += QString(" n%1=\"%1\"").arg(I);
    QCOMPARE(LoadText(Many + "/>")->DocumentElement()->Attributes().size(), 50000);
    // Cut-off data at every length of a good document.
    const QByteArray Good =
        support::Utf16Bytes("<?xml version=\"1.0\"?><r a='1'><!--c--><![CDATA[d]]>&amp;"
                            "<e>t</e></r>");
    for (int Length = 0; Length < Good.size(); ++Length) {
        try {
            Load(Good.left(Length));
        } catch (const Exception&) {
        }
    }
}

void TestSimpleXML::RoundTripsThroughAFile() {
    QTemporaryDir Dir;
    IXmlDocument Document = CreateDocument("options", "1.0", QString());
    Document->DocumentElement()->AddChildElement("language")->SetText("de");
    Document->DocumentElement()->AddChildElement("multi")->SetText("one\r\ntwo");
    Document->SaveToFile(Dir.path() + "/x.xml");
    QFile File(Dir.path() + "/x.xml");
    QVERIFY(File.open(QIODevice::ReadOnly));
    const QByteArray Bytes = File.readAll();
    QVERIFY(Bytes.startsWith(QByteArray("<\0?\0x\0m\0l\0", 10)));
    File.seek(0);
    IXmlDocument Loaded = CreateDocument("options", "1.0", QString());
    Loaded->LoadFromStream(File);
    QCOMPARE(Loaded->DocumentElement()->NodeName(), QString("options"));
    QCOMPARE(Loaded->DocumentElement()->ChildText("language", QString()), QString("de"));
    // A multi-line value comes back with the line break and indent before its end tag.
    QCOMPARE(Loaded->DocumentElement()->ChildText("multi", QString()), QString("one\r\ntwo\r\n\t"));
}

void TestSimpleXML::ReportsAFileThatCannotBeCreated() {
    QTemporaryDir Dir;
    const QString Path = Dir.path() + "/missing/x.xml";
    try {
        CreateDocument("a", "1.0", QString())->SaveToFile(Path);
        QFAIL("no error raised");
    } catch (const Exception& E) {
        QVERIFY2(E.Message().startsWith("Cannot create file \"" + Path + "\". "),
                 qPrintable(E.Message()));
    }
}

void TestSimpleXML::LoadsTheFuzzCorpusWithoutCrashing() {
    const QDir Corpus(QStringLiteral(HARKAVEL_SOURCE_DIR "/tests/fuzz/corpus/xml"));
    const QStringList Files = Corpus.entryList(QDir::Files);
    QVERIFY(!Files.isEmpty());
    for (const QString& Name : Files) {
        QFile File(Corpus.filePath(Name));
        QVERIFY(File.open(QIODevice::ReadOnly));
        IXmlDocument Document = CreateDocument(QString(), QString(), QString());
        try {
            Document->LoadFromStream(File);
            Document->Xml();
        } catch (const Exception&) {
        }
    }
}

QTEST_GUILESS_MAIN(TestSimpleXML)
#include "TestSimpleXML.moc"
