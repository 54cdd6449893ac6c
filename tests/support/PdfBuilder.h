#pragma once
// Builds small PDF files in tests: numbered objects given as text, a classic cross-reference
// table with correct offsets, and a trailer. Knobs let a test damage the result on purpose.
#include <QByteArray>

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

struct PdfBuilder {
    QByteArray header = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    std::map<int, QByteArray> objects; // number -> object text between "obj" and "endobj"
    QByteArray trailerExtra;           // more trailer keys, e.g. "/Info 5 0 R"
    int rootNumber = 1;

    PdfBuilder &add(int number, const QByteArray &text)
    {
        objects[number] = text;
        return *this;
    }

    // A catalogue (1), a page tree (2) and `pageCount` pages (3...) with the given page keys.
    static PdfBuilder withPages(int pageCount, const QByteArray &pageKeys = "/MediaBox [0 0 612 792]")
    {
        PdfBuilder b;
        b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
        QByteArray kids;
        for (int i = 0; i < pageCount; ++i) {
            kids += QByteArray::number(3 + i) + " 0 R ";
            b.add(3 + i, "<< /Type /Page /Parent 2 0 R " + pageKeys + " >>");
        }
        b.add(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + QByteArray::number(pageCount) + " >>");
        return b;
    }

    // An uncompressed object stream holding `members` (number, text) in order: the value of an
    // object, from "<<" to "endstream".
    static QByteArray objectStream(const std::vector<std::pair<uint64_t, QByteArray>> &members)
    {
        auto num = [](uint64_t value) { return QByteArray::number(qulonglong(value)); };
        QByteArray header, objects;
        for (const auto &[number, text] : members) {
            header += num(number) + ' ' + num(objects.size()) + ' ';
            objects += text + ' ';
        }
        return "<< /Type /ObjStm /N " + num(members.size()) + " /First " + num(header.size()) + " /Length "
               + num(header.size() + objects.size()) + " >>\nstream\n" + header + objects + "\nendstream";
    }

    // The file. `xrefShift` moves every recorded offset (a damaged table); `withXref` false leaves
    // the table and trailer out after the objects.
    QByteArray build(qsizetype xrefShift = 0, bool withXref = true) const
    {
        QByteArray out = header;
        std::map<int, qsizetype> offsets;
        for (const auto &[number, text] : objects) {
            offsets[number] = out.size();
            out += QByteArray::number(number) + " 0 obj\n" + text + "\nendobj\n";
        }
        if (!withXref)
            return out;
        const int size = objects.empty() ? 1 : objects.rbegin()->first + 1;
        const qsizetype xref = out.size();
        out += "xref\n0 " + QByteArray::number(size) + "\n0000000000 65535 f\r\n";
        for (int n = 1; n < size; ++n) {
            auto it = offsets.find(n);
            if (it == offsets.end())
                out += "0000000000 65535 f\r\n";
            else
                out += QByteArray::number(it->second + xrefShift).rightJustified(10, '0') + " 00000 n\r\n";
        }
        out += "trailer\n<< /Size " + QByteArray::number(size) + " /Root " + QByteArray::number(rootNumber) + " 0 R "
               + trailerExtra + " >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
        return out;
    }
};
