// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// The part of an XML document model that the settings file needs: reference-counted nodes held
// through counted handles, a fixed text form (tabs, CR LF, escaping, whitespace-only text
// dropped), saving as UTF-16 little-endian bytes and loading that form back.
//
// A document is used by one thread at a time.

#include <QHash>
#include <QIODevice>
#include <QList>
#include <QString>
#include <utility>

class TXmlNode;

// A counted handle to a node; a node lives while a handle or its parent's child list refers
// to it.
template <typename T> class TXmlHandle {
public:
    TXmlHandle() = default;
    TXmlHandle(T* Node) : FNode(Node) { Acquire(); } // NOLINT: handles convert like pointers
    TXmlHandle(const TXmlHandle& Other) : TXmlHandle(Other.FNode) {}
    template <typename U> TXmlHandle(const TXmlHandle<U>& Other) : TXmlHandle(Other.Get()) {}
    TXmlHandle(TXmlHandle&& Other) noexcept : FNode(std::exchange(Other.FNode, nullptr)) {}
    TXmlHandle& operator=(TXmlHandle Other) noexcept {
        std::swap(FNode, Other.FNode);
        return *this;
    }
    ~TXmlHandle() { Release(); }

    T* operator->() const { return FNode; }
    T* Get() const { return FNode; }
    explicit operator bool() const { return FNode != nullptr; }

private:
    void Acquire();
    void Release();
    T* FNode = nullptr;
};

class TXmlElement;
class TXmlDocument;
using IXmlNode = TXmlHandle<TXmlNode>;
using IXmlElement = TXmlHandle<TXmlElement>;
using IXmlDocument = TXmlHandle<TXmlDocument>;

enum TXmlNodeType {
    ELEMENT_NODE = 1,
    TEXT_NODE = 3,
    CDATA_SECTION_NODE = 4,
    PROCESSING_INSTRUCTION_NODE = 7,
    COMMENT_NODE = 8,
    DOCUMENT_NODE = 9
};

struct TXmlAttribute {
    QString Name;
    QString Value;
};

// The reference count of every node.
class TXmlBase {
public:
    virtual ~TXmlBase() = default;
    void AddRef() { ++FRefCount; }
    void ReleaseRef() {
        if (--FRefCount == 0)
            delete this;
    }

private:
    int FRefCount = 0;
};

class TXmlNode : public TXmlBase {
public:
    virtual QString NodeName() const = 0;
    virtual TXmlNodeType NodeType() const = 0;
    virtual QString GetText() const = 0;
    // Appends GetText() to Out, after a space when Out holds text already. Elements hand this
    // on to their children, so a deep tree's text is copied once, not once per level.
    virtual void AppendText(QString& Out) const;
    virtual void SetText(const QString& Text);
    // The text form of the node at the given depth (elements enclosing it).
    virtual QString Xml(int Depth) const = 0;

    TXmlNode* ParentNode() const { return FParent; }
    const QList<IXmlNode>& ChildNodes() const { return FChildren; }
    const QList<TXmlAttribute>& Attributes() const { return FAttributes; }
    void SetAttribute(const QString& Name, const QString& Value);
    QString GetAttribute(const QString& Name) const;

    IXmlElement AddChildElement(const QString& Name);
    void AppendChild(const IXmlNode& Child);
    void RemoveChildren();
    // The text of the first child of any kind with that name, or the fallback.
    QString ChildText(const QString& Name, const QString& Fallback) const;

protected:
    QString AttributesXml() const;
    QString ChildrenXml(int Depth) const;
    // Texts of element, text and CDATA children, the empty ones left out, joined by a space.
    QString ChildrenText() const;
    void AppendChildrenText(QString& Out) const;
    virtual void ChildrenChanged() {}

    QList<TXmlAttribute> FAttributes;
    QHash<QString, qsizetype> FAttributeIndex; // name → position, so many attributes stay cheap

private:
    TXmlNode* FParent = nullptr; // does not keep the parent alive
    QList<IXmlNode> FChildren;
};

class TXmlElement : public TXmlNode {
public:
    explicit TXmlElement(QString TagName) : FTagName(std::move(TagName)) {}
    QString NodeName() const override { return FTagName; }
    TXmlNodeType NodeType() const override { return ELEMENT_NODE; }
    QString GetText() const override;
    void AppendText(QString& Out) const override;
    void SetText(const QString& Text) override;
    QString Xml(int Depth) const override;

protected:
    void ChildrenChanged() override { FValue.clear(); }

private:
    QString FTagName;
    QString FValue; // the stored value of an element without children
};

class TXmlText : public TXmlNode {
public:
    explicit TXmlText(QString Value) : FValue(std::move(Value)) {}
    QString NodeName() const override { return QStringLiteral("#text"); }
    TXmlNodeType NodeType() const override { return TEXT_NODE; }
    QString GetText() const override { return FValue; }
    void SetText(const QString& Text) override { FValue = Text; }
    QString Xml(int Depth) const override;

private:
    QString FValue;
};

// The common base of CDATA sections and comments, whose text is read trimmed.
class TXmlCharacterData : public TXmlNode {
public:
    explicit TXmlCharacterData(QString Value) : FValue(std::move(Value)) {}
    QString GetText() const override;
    void SetText(const QString& Text) override { FValue = Text; }

protected:
    QString FValue;
};

class TXmlCDATASection : public TXmlCharacterData {
public:
    using TXmlCharacterData::TXmlCharacterData;
    QString NodeName() const override { return QStringLiteral("#cdata-section"); }
    TXmlNodeType NodeType() const override { return CDATA_SECTION_NODE; }
    QString Xml(int Depth) const override;
};

class TXmlComment : public TXmlCharacterData {
public:
    using TXmlCharacterData::TXmlCharacterData;
    QString NodeName() const override { return QStringLiteral("#comment"); }
    TXmlNodeType NodeType() const override { return COMMENT_NODE; }
    QString Xml(int Depth) const override;
};

class TXmlProcessingInstruction : public TXmlNode {
public:
    TXmlProcessingInstruction(QString Target, QString Data)
        : FTarget(std::move(Target)), FData(std::move(Data)) {}
    QString NodeName() const override { return FTarget; }
    TXmlNodeType NodeType() const override { return PROCESSING_INSTRUCTION_NODE; }
    QString GetText() const override { return FData; }
    void SetText(const QString& Text) override { FData = Text; }
    QString Xml(int Depth) const override;

private:
    QString FTarget;
    QString FData;
};

class TXmlDocument : public TXmlNode {
public:
    QString NodeName() const override { return QStringLiteral("#document"); }
    TXmlNodeType NodeType() const override { return DOCUMENT_NODE; }
    QString GetText() const override;
    QString Xml(int Depth) const override { return ChildrenXml(Depth); }
    QString Xml() const { return Xml(0); }

    // The first element child, whatever its name; none when there is none.
    IXmlElement DocumentElement() const;
    // Replaces the whole content with the document read from the stream (UTF-16 code units,
    // low byte first). Raises an error at the first violation; what was read before stays.
    void LoadFromStream(QIODevice& Stream);
    // Writes the text form as UTF-16 little-endian bytes without a byte order mark. The file
    // is replaced as a whole: a failed write leaves the file that was there before.
    void SaveToFile(const QString& Path) const;
};

// A new document: empty for an empty root name; otherwise the XML declaration (encoding
// "UTF-8" when none is given) and an element of that name.
IXmlDocument CreateDocument(const QString& RootName, const QString& Version,
                            const QString& Encoding);

// Elements nest at most this deep in a loaded document; deeper input is refused rather than
// read (reading, writing and freeing the tree each follow its depth).
inline constexpr int MaxXmlDepth = 1000;

template <typename T> void TXmlHandle<T>::Acquire() {
    if (FNode)
        FNode->AddRef();
}
template <typename T> void TXmlHandle<T>::Release() {
    if (T* Old = std::exchange(FNode, nullptr))
        Old->ReleaseRef();
}
