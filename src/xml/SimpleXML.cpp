// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "SimpleXML.h"

#include "platform/Exceptions.h"

#include <QFileInfo>
#include <QSaveFile>

namespace {

const QString LineBreak = QStringLiteral("\r\n");

bool IsBlank(char16_t C) {
    return C <= 0x20;
}

QString TrimBlanks(const QString& Text) {
    qsizetype First = 0, Last = Text.size();
    while (First < Last && IsBlank(Text.at(First).unicode()))
        ++First;
    while (Last > First && IsBlank(Text.at(Last - 1).unicode()))
        --Last;
    return Text.mid(First, Last - First);
}

QString Escape(const QString& Text) {
    QString Out;
    Out.reserve(Text.size());
    for (QChar C : Text) {
        switch (C.unicode()) {
        case u'"':
            Out += QLatin1String("&quot;");
            break;
        case u'&':
            Out += QLatin1String("&amp;");
            break;
        case u'<':
            Out += QLatin1String("&lt;");
            break;
        case u'>':
            Out += QLatin1String("&gt;");
            break;
        default:
            Out += C;
        }
    }
    return Out;
}

QString Expected(QChar C) {
    return QStringLiteral("Ожидается \"%1\"").arg(C);
}
QString Expected(const QString& S) {
    return QStringLiteral("Ожидается \"%1\"").arg(S);
}

// Reads the document grammar from UTF-16 code units. Every violation raises the library's
// message and stops.
class TXmlReader {
public:
    explicit TXmlReader(QString Data) : FData(std::move(Data)) {}

    void ReadDocument(TXmlDocument& Document) { ReadNodes(Document, 0); }

private:
    bool AtEnd() const { return FPos >= FData.size(); }
    char16_t Peek(qsizetype Ahead = 0) const {
        return FPos + Ahead < FData.size() ? FData.at(FPos + Ahead).unicode() : 0;
    }
    bool LookingAt(const QString& S) const { return QStringView(FData).mid(FPos, S.size()) == S; }
    [[noreturn]] static void Fail(const QString& Message) { throw Exception(Message); }

    void ExpectChar(char16_t C) {
        if (AtEnd() || Peek() != C)
            Fail(Expected(QChar(C)));
        ++FPos;
    }
    void ExpectString(const QString& S) {
        if (!LookingAt(S))
            Fail(Expected(S));
        FPos += S.size();
    }
    void SkipBlanks() {
        while (!AtEnd() && IsBlank(Peek()))
            ++FPos;
    }
    // Everything up to the next Terminator, which is consumed.
    QString ReadUntil(const QString& Terminator) {
        const qsizetype End = FData.indexOf(Terminator, FPos);
        if (End < 0)
            Fail(Expected(Terminator));
        QString Text = FData.mid(FPos, End - FPos);
        FPos = End + Terminator.size();
        return Text;
    }

    static bool CanStartName(char16_t C) { return C == u'_' || QChar::isLetter(C); }
    static bool CanContinueName(char16_t C) {
        return CanStartName(C) || QChar::isDigit(C) || C == u'-' || C == u'.' || C == u':';
    }
    QString ReadName() {
        if (AtEnd() || !CanStartName(Peek()))
            Fail(QStringLiteral("Имя должно начинаться с буквы или \"_\""));
        const qsizetype Start = FPos++;
        while (!AtEnd() && CanContinueName(Peek()))
            ++FPos;
        return FData.mid(Start, FPos - Start);
    }

    void ReadNodes(TXmlNode& Parent, int Depth) {
        while (!AtEnd()) {
            if (Peek() != u'<') {
                ReadTextRun(Parent);
                continue;
            }
            ++FPos;
            if (AtEnd())
                return; // a lone "<" at the end is ignored
            switch (Peek()) {
            case u'/':
                return; // the end tag belongs to the enclosing element
            case u'?':
                ++FPos;
                ReadProcessingInstruction(Parent);
                break;
            case u'!':
                ++FPos;
                ReadDeclarationOrComment(Parent);
                break;
            default:
                ReadElement(Parent, Depth);
            }
        }
    }

    void ReadTextRun(TXmlNode& Parent) {
        QString Run;
        while (!AtEnd() && Peek() != u'<') {
            if (Peek() == u'&')
                Run += ReadReference();
            else
                Run += QChar(FData.at(FPos++));
        }
        if (!TrimBlanks(Run).isEmpty())
            Parent.AppendChild(IXmlNode(new TXmlText(Run)));
    }

    // At "&": the character it stands for.
    QString ReadReference() {
        ++FPos;
        if (AtEnd())
            Fail(QStringLiteral("Ожидается \"#\" или имя упрамляющего символа"));
        QString Text;
        if (Peek() == u'#') {
            ++FPos;
            Text = ReadCharacterNumber();
        } else {
            const QString Name = ReadName();
            if (Name == u"amp")
                Text = QStringLiteral("&");
            else if (Name == u"quot")
                Text = QStringLiteral("\"");
            else if (Name == u"lt")
                Text = QStringLiteral("<");
            else if (Name == u"gt")
                Text = QStringLiteral(">");
            else if (Name == u"apos")
                Text = QStringLiteral("'");
            else
                Fail(QStringLiteral("Некорректное имя управляющего символа"));
        }
        ExpectChar(u';');
        return Text;
    }

    static int DigitValue(char16_t C, int Base) {
        if (C >= u'0' && C <= u'9')
            return C - u'0';
        if (Base == 16 && C >= u'a' && C <= u'f')
            return C - u'a' + 10;
        if (Base == 16 && C >= u'A' && C <= u'F')
            return C - u'A' + 10;
        return -1;
    }

    // After "&#". A number past U+10FFFF (however many digits) stands for U+FFFD; one past
    // U+FFFF becomes its surrogate pair, so no character is cut to its low 16 bits.
    QString ReadCharacterNumber() {
        int Base = 10;
        if (!AtEnd() && Peek() == u'x') {
            Base = 16;
            ++FPos;
        }
        constexpr char32_t Beyond = 0x110000;
        char32_t Value = 0;
        qsizetype Digits = 0;
        for (int D; !AtEnd() && (D = DigitValue(Peek(), Base)) >= 0; ++FPos, ++Digits)
            Value = std::min<char32_t>(Beyond, Value * Base + char32_t(D));
        if (Digits == 0)
            Fail(Base == 16 ? QStringLiteral("Ожидается шестнадцатеричное число")
                            : QStringLiteral("Ожидается число"));
        if (Value >= Beyond)
            return QString(QChar(0xFFFD));
        if (Value > 0xFFFF)
            return QString::fromUcs4(&Value, 1);
        return QString(QChar(char16_t(Value)));
    }

    // Attributes of a start tag or of the declaration.
    void ReadAttributes(TXmlNode& Node) {
        SkipBlanks();
        while (!AtEnd() && CanStartName(Peek())) {
            const QString Name = ReadName();
            SkipBlanks();
            ExpectChar(u'=');
            SkipBlanks();
            Node.SetAttribute(Name, ReadAttributeValue());
            SkipBlanks();
        }
    }

    QString ReadAttributeValue() {
        if (AtEnd())
            Fail(QStringLiteral("Ожидается значение атрибута"));
        const char16_t Quote = Peek();
        if (Quote != u'"' && Quote != u'\'')
            Fail(QStringLiteral("Ожидается строковая константа"));
        ++FPos;
        QString Value;
        while (true) {
            if (AtEnd())
                Fail(Expected(QChar(Quote)));
            const char16_t C = Peek();
            if (C == Quote)
                break;
            if (C == u'<')
                Fail(QStringLiteral("Символ \"<\" не может использоваться в значениях атрибутов"));
            if (C == u'&')
                Value += ReadReference();
            else
                Value += QChar(FData.at(FPos++));
        }
        ++FPos;
        return Value;
    }

    // After "<?".
    void ReadProcessingInstruction(TXmlNode& Parent) {
        const QString Target = ReadName();
        IXmlNode Instruction;
        if (Target == u"xml") {
            auto* Declaration = new TXmlProcessingInstruction(Target, QString());
            Instruction = Declaration;
            ReadAttributes(*Declaration);
            ExpectString(QStringLiteral("?>"));
        } else {
            Instruction = new TXmlProcessingInstruction(Target, ReadUntil(QStringLiteral("?>")));
        }
        Parent.AppendChild(Instruction);
    }

    // After "<!".
    void ReadDeclarationOrComment(TXmlNode& Parent) {
        if (Peek() == u'-' && !AtEnd()) {
            ExpectString(QStringLiteral("--"));
            Parent.AppendChild(IXmlNode(new TXmlComment(ReadUntil(QStringLiteral("-->")))));
        } else if (Peek() == u'[' && !AtEnd()) {
            ExpectString(QStringLiteral("[CDATA["));
            Parent.AppendChild(IXmlNode(new TXmlCDATASection(ReadUntil(QStringLiteral("]]>")))));
        } else {
            ExpectString(QStringLiteral("DOCTYPE"));
            ReadUntil(QStringLiteral(">"));
        }
    }

    // At the first code unit of the tag name.
    void ReadElement(TXmlNode& Parent, int Depth) {
        if (Depth >= MaxXmlDepth)
            Fail(QStringLiteral("Слишком глубокая вложенность элементов (больше %1)")
                     .arg(MaxXmlDepth));
        const QString TagName = ReadName();
        if (AtEnd())
            Fail(QStringLiteral("Не завершено определение элемента"));
        const char16_t After = Peek();
        if (!IsBlank(After) && After != u'/' && After != u'>')
            Fail(QStringLiteral("Некорретный символ в имени элемента"));
        IXmlElement Element(new TXmlElement(TagName));
        Parent.AppendChild(Element);
        ReadAttributes(*Element.Get());
        if (Peek() == u'/' && !AtEnd()) {
            ExpectString(QStringLiteral("/>"));
            return;
        }
        ExpectChar(u'>');
        ReadNodes(*Element.Get(), Depth + 1);
        ExpectChar(u'/');
        ExpectString(TagName);
        SkipBlanks();
        ExpectChar(u'>');
    }

    QString FData;
    qsizetype FPos = 0;
};

} // namespace

void TXmlNode::SetText(const QString&) {}

void TXmlNode::SetAttribute(const QString& Name, const QString& Value) {
    const auto Found = FAttributeIndex.constFind(Name);
    if (Found != FAttributeIndex.constEnd()) {
        FAttributes[*Found].Value = Value; // keeps its place, takes the new value
        return;
    }
    FAttributeIndex.insert(Name, FAttributes.size());
    FAttributes.append({Name, Value});
}

QString TXmlNode::GetAttribute(const QString& Name) const {
    const auto Found = FAttributeIndex.constFind(Name);
    return Found == FAttributeIndex.constEnd() ? QString() : FAttributes[*Found].Value;
}

IXmlElement TXmlNode::AddChildElement(const QString& Name) {
    IXmlElement Element(new TXmlElement(Name));
    AppendChild(Element);
    return Element;
}

void TXmlNode::AppendChild(const IXmlNode& Child) {
    Child->FParent = this;
    FChildren.append(Child);
    ChildrenChanged();
}

void TXmlNode::RemoveChildren() {
    for (const IXmlNode& Child : FChildren)
        Child->FParent = nullptr;
    FChildren.clear();
}

QString TXmlNode::ChildText(const QString& Name, const QString& Fallback) const {
    for (const IXmlNode& Child : FChildren)
        if (Child->NodeName() == Name)
            return Child->GetText();
    return Fallback;
}

QString TXmlNode::AttributesXml() const {
    QString Out;
    for (const TXmlAttribute& Attribute : FAttributes)
        Out += u' ' + Attribute.Name + QLatin1String("=\"") + Escape(Attribute.Value) + u'"';
    return Out;
}

QString TXmlNode::ChildrenXml(int Depth) const {
    QString Out;
    for (const IXmlNode& Child : FChildren)
        Out += Child->Xml(Depth);
    return Out;
}

void TXmlNode::AppendText(QString& Out) const {
    const QString Text = GetText();
    if (Text.isEmpty())
        return;
    if (!Out.isEmpty())
        Out += u' ';
    Out += Text;
}

QString TXmlNode::ChildrenText() const {
    QString Out;
    AppendChildrenText(Out);
    return Out;
}

// The texts of the element, text and CDATA children that have one, joined by spaces.
void TXmlNode::AppendChildrenText(QString& Out) const {
    for (const IXmlNode& Child : FChildren) {
        const TXmlNodeType Type = Child->NodeType();
        if (Type == ELEMENT_NODE || Type == TEXT_NODE || Type == CDATA_SECTION_NODE)
            Child->AppendText(Out);
    }
}

QString TXmlElement::GetText() const {
    return ChildNodes().isEmpty() ? FValue : ChildrenText();
}

void TXmlElement::AppendText(QString& Out) const {
    if (ChildNodes().isEmpty())
        TXmlNode::AppendText(Out);
    else
        AppendChildrenText(Out);
}

void TXmlElement::SetText(const QString& Text) {
    RemoveChildren();
    FValue = Text;
}

QString TXmlElement::Xml(int Depth) const {
    const QString Content = ChildNodes().isEmpty() ? Escape(FValue) : ChildrenXml(Depth + 1);
    const QString Indent(Depth, u'\t');
    const QString Start = LineBreak + Indent + u'<' + FTagName + AttributesXml();
    const QString End = QLatin1String("</") + FTagName + u'>';
    if (Content.isEmpty())
        return Start + QLatin1String("/>");
    if (!Content.contains(u'\r') && !Content.contains(u'\n'))
        return Start + u'>' + Content + End;
    if (Content.endsWith(LineBreak))
        return Start + u'>' + Content + Indent + End;
    return Start + u'>' + Content + LineBreak + Indent + End;
}

QString TXmlText::Xml(int) const {
    return Escape(FValue);
}

QString TXmlCharacterData::GetText() const {
    return TrimBlanks(FValue);
}

QString TXmlCDATASection::Xml(int) const {
    // "]]>" cannot stand inside a section: split after its first "]".
    QString Value = FValue;
    Value.replace(QLatin1String("]]>"), QLatin1String("]]]><![CDATA[]>"));
    return QLatin1String("<![CDATA[") + Value + QLatin1String("]]>");
}

QString TXmlComment::Xml(int) const {
    return QLatin1String("<!--") + FValue + QLatin1String("-->");
}

QString TXmlProcessingInstruction::Xml(int) const {
    if (!FData.isEmpty())
        return QLatin1String("<?") + FTarget + u' ' + FData + QLatin1String("?>");
    return QLatin1String("<?") + FTarget + AttributesXml() + QLatin1String("?>");
}

QString TXmlDocument::GetText() const {
    return ChildrenText();
}

IXmlElement TXmlDocument::DocumentElement() const {
    for (const IXmlNode& Child : ChildNodes())
        if (Child->NodeType() == ELEMENT_NODE)
            return IXmlElement(static_cast<TXmlElement*>(Child.Get()));
    return {};
}

void TXmlDocument::LoadFromStream(QIODevice& Stream) {
    RemoveChildren();
    FAttributes.clear();
    FAttributeIndex.clear();
    const QByteArray Bytes = Stream.readAll();
    // A last odd byte is no code unit and is left out.
    QString Data(Bytes.size() / 2, Qt::Uninitialized);
    for (qsizetype I = 0; I < Data.size(); ++I)
        Data[I] = QChar(char16_t(uchar(Bytes[2 * I]) | (uchar(Bytes[2 * I + 1]) << 8)));
    TXmlReader(std::move(Data)).ReadDocument(*this);
}

void TXmlDocument::SaveToFile(const QString& Path) const {
    const QString Text = Xml();
    QByteArray Bytes(Text.size() * 2, Qt::Uninitialized);
    for (qsizetype I = 0; I < Text.size(); ++I) {
        Bytes[2 * I] = char(Text.at(I).unicode() & 0xFF);
        Bytes[2 * I + 1] = char(Text.at(I).unicode() >> 8);
    }
    // Written beside the old file and renamed over it: a crash or a full disk leaves the old
    // file whole, never a cut-off one. Unbuffered, because Qt 6.4 loses the error of a failed
    // buffered write and would then commit the cut-off file.
    // QSaveFile writes through a symbolic link to the file it names, which keeps a linked
    // settings file working; a link to anything but a regular file (a device, a FIFO) is
    // replaced instead, or the save would overwrite that device.
    const QFileInfo Info(Path);
    if (Info.isSymLink() && !Info.isFile() && Info.exists())
        QFile::remove(Path);
    QSaveFile File(Path);
    if (!File.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw Exception(
            QStringLiteral("Cannot create file \"%1\". %2").arg(Path, File.errorString()));
    if (File.write(Bytes) != Bytes.size() || !File.commit())
        throw Exception(
            QStringLiteral("Cannot write file \"%1\". %2").arg(Path, File.errorString()));
}

IXmlDocument CreateDocument(const QString& RootName, const QString& Version,
                            const QString& Encoding) {
    IXmlDocument Document(new TXmlDocument);
    if (RootName.isEmpty())
        return Document;
    Document->RemoveChildren();
    const QString Data = QStringLiteral("version=\"%1\" encoding=\"%2\"")
                             .arg(Version, Encoding.isEmpty() ? QStringLiteral("UTF-8") : Encoding);
    Document->AppendChild(IXmlNode(new TXmlProcessingInstruction(QStringLiteral("xml"), Data)));
    Document->AddChildElement(RootName);
    return Document;
}
