#pragma once
// An array (type 5). As the top-level value of an indirect object in a file it keeps the file
// bytes and parses on first use; elsewhere it parses at once. A parse error raises
// FolivoParseFailure from the first call that needs the elements.
#include "KVPDFObject.h"

class KVPDFObjectArray : public KVPDFObject {
public:
    KVPDFObjectArray();

    static std::shared_ptr<KVPDFObjectArray> arrayAtOffset(uint64_t offset, KVPDFObjectContext *context, const QByteArray &data,
                                                           bool directOnly, bool inText, bool contained);
    static std::shared_ptr<KVPDFObjectArray> arrayWithArray(std::vector<KVPDFObjectPtr> elements);

    const std::vector<KVPDFObjectPtr> &value();
    void setValue(std::vector<KVPDFObjectPtr> elements);
    size_t count() { return value().size(); }
    KVPDFObjectPtr objectAtIndex(size_t index);
    KVPDFObjectPtr resolvedObjectAtIndex(size_t index);
    void addObject(const KVPDFObjectPtr &object);
    void insertObject(const KVPDFObjectPtr &object, size_t index);
    void replaceObjectAtIndex(size_t index, const KVPDFObjectPtr &object);
    void removeObjectAtIndex(size_t index);

    bool isParsed() const { return m_parsed; }
    bool isInText() const { return m_inText; }
    uint64_t offset() const { return m_offset; }

    void setContext(KVPDFObjectContext *context) override;
    void setContainer(const std::weak_ptr<KVPDFObject> &container) override;
    QByteArray syntax(KVPDFEncryption encryption) override;
    KVPDFObjectPtr copy() override;
    void fixReferences(const KVPDFTranslationTable &table) override;
    void appendChildren(std::vector<KVPDFObjectPtr> &out, bool forMarking) override;
    void releaseGraph() override;
    QString attributedObject() override;
    QString description() override;

private:
    void parse();
    void adopt(const KVPDFObjectPtr &element);

    std::vector<KVPDFObjectPtr> m_elements;
    QByteArray m_objectData;
    uint64_t m_offset = 0;
    bool m_directOnly = false;
    bool m_inText = false;
    bool m_parsed = true;
};
