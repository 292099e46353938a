// Loads, walks and saves a 10 MB selection file of 100,000 "path" entries with CXmlDocument.
// Built for Windows (with the other benchmarks) it measures CXmlDocument alone; built natively
// by bench/xml_bench.sh it measures, in the same run and on the same file, a well-known
// C XML library as the peer and prints the ratios.

#ifdef ZUL_BENCH_NATIVE
#include "../core/xml/XmlDocument.cpp"
#include "../core/xml/XmlEncoding.cpp"
#include "../core/xml/XmlParse.cpp"
#include "../core/xml/XmlPort.cpp"
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>
#include <unistd.h>
#else
#include "XmlDocument.h"
#include <windows.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace {

double Seconds(const std::function<void()>& fn, int nRuns)
{
    double best = 1e30;
    for (int i = 0; i < nRuns; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        fn();
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (s < best)
            best = s;
    }
    return best;
}

// A flat selection list: the root "filepath" with one "path" entry per checked item.
std::string MakeSelection(int nEntries)
{
    std::string s = "<filepath>\r\n";
    char buf[512];
    for (int i = 0; i < nEntries; ++i) {
        snprintf(buf, sizeof(buf),
                 "<path path=\"C:\\Users\\Benutzer\\Documents\\Projekte &amp; Archiv\\%04d \xC3\x9C" "bersicht\\"
                 "Unterordner %03d\\Bericht-%06d.docx\"/>\r\n",
                 i / 100, i % 1000, i);
        s += buf;
    }
    s += "</filepath>\r\n";
    return s;
}

bool WriteBytes(const char* path, const std::string& bytes)
{
    FILE* f = fopen(path, "wb");
    if (!f)
        return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

std::wstring Wide(const char* p)
{
    std::wstring w;
    for (; *p; ++p)
        w += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    return w;
}

} // namespace

int main(int argc, char** argv)
{
    const int nEntries = argc > 1 ? atoi(argv[1]) : 100000;
    const int nRuns = argc > 2 ? atoi(argv[2]) : 5;
    std::string strDir = argc > 3 ? argv[3] : ".";
    std::string strIn = strDir + "/xml_bench_in.xml", strOutA = strDir + "/xml_bench_out_a.xml",
                strOutB = strDir + "/xml_bench_out_b.xml";
    std::string bytes = MakeSelection(nEntries);
    if (!WriteBytes(strIn.c_str(), bytes)) {
        fprintf(stderr, "cannot write %s\n", strIn.c_str());
        return 1;
    }
    std::wstring wIn = Wide(strIn.c_str()), wOut = Wide(strOutA.c_str());
    printf("selection file: %d entries, %.1f MB, best of %d runs\n", nEntries, bytes.size() / 1e6, nRuns);

    // CXmlDocument
    CXmlDocument doc;
    bool bLoaded = false;
    double tLoad = Seconds([&] { bLoaded = doc.LoadFile(wIn.c_str()); }, nRuns);
    long long nChars = 0;
    int nFound = 0;
    double tWalk = Seconds([&] {
        nChars = 0;
        nFound = 0;
        doc.ResetPosition();
        while (doc.FindChildElement(L"path")) {
            nChars += doc.GetChildAttribute(L"path").GetLength();
            ++nFound;
        }
    }, nRuns);
    bool bSaved = false;
    double tSave = Seconds([&] { bSaved = doc.SaveFile(wOut.c_str()); }, nRuns);
    printf("CXmlDocument   load %8.1f ms  walk %8.1f ms  save %8.1f ms  (loaded %d, entries %d, chars %lld, saved %d)\n",
           tLoad * 1e3, tWalk * 1e3, tSave * 1e3, bLoaded, nFound, nChars, bSaved);

#ifdef ZUL_BENCH_NATIVE
    xmlInitParser();
    xmlDocPtr x = nullptr;
    double pLoad = Seconds([&] {
        if (x)
            xmlFreeDoc(x);
        x = xmlReadFile(strIn.c_str(), nullptr, XML_PARSE_NONET);
    }, nRuns);
    long long nChars2 = 0;
    int nFound2 = 0;
    double pWalk = Seconds([&] {
        nChars2 = 0;
        nFound2 = 0;
        xmlNodePtr root = xmlDocGetRootElement(x);
        for (xmlNodePtr n = root ? root->children : nullptr; n; n = n->next) {
            if (n->type != XML_ELEMENT_NODE || xmlStrcmp(n->name, BAD_CAST "path") != 0)
                continue;
            xmlChar* v = xmlGetProp(n, BAD_CAST "path");
            if (v) {
                // Count characters, not bytes, as the UTF-16 side does (all below U+10000 here).
                for (const xmlChar* q = v; *q; ++q)
                    if ((*q & 0xC0) != 0x80)
                        ++nChars2;
                xmlFree(v);
            }
            ++nFound2;
        }
    }, nRuns);
    double pSave = Seconds([&] { xmlSaveFile(strOutB.c_str(), x); }, nRuns);
    printf("libxml2 %s  load %8.1f ms  walk %8.1f ms  save %8.1f ms  (entries %d, chars %lld)\n", LIBXML_DOTTED_VERSION,
           pLoad * 1e3, pWalk * 1e3, pSave * 1e3, nFound2, nChars2);
    printf("ratio CXmlDocument / libxml2: load %.2f  walk %.2f  save %.2f\n", tLoad / pLoad, tWalk / pWalk,
           tSave / pSave);
    xmlFreeDoc(x);
    xmlCleanupParser();
    unlink(strOutB.c_str());
#endif
    remove(strIn.c_str());
    remove(strOutA.c_str());
    return 0;
}
