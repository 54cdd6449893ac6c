#pragma once
// An array (type 5). Read from bytes it parses at once, elements included; a parse error raises
// FolivoParseFailure from arrayAtOffset.
#include "KVPDFObject.h"

class KVPDFObjectArray : public KVPDFObject {
public:
    KVPDFObjectArray();

    static std::shared_ptr<KVPDFObjectArray> arrayAtOffset(uint64_t offset, KVPDFObjectContext *context, const QByteArray &data,
                                                           bool directOnly);
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

    void setContext(KVPDFObjectContext *context) override;
    void setContainer(const std::weak_ptr<KVPDFObject> &container) override;
    QByteArray syntax(KVPDFEncryption encryption) override;
    void appendSyntax(QByteArray &out, KVPDFEncryption encryption) override;
    KVPDFObjectPtr copy() override;
    void fixReferences(const KVPDFTranslationTable &table) override;
    void appendChildren(std::vector<KVPDFObjectPtr> &out, bool forMarking) override;
    void releaseGraph() override;
    QString attributedObject() override;
    QString description() override;

private:
    void parse(const QByteArray &data, uint64_t offset);
    void adopt(const KVPDFObjectPtr &element);

    std::vector<KVPDFObjectPtr> m_elements;
    bool m_directOnly = false;
};
