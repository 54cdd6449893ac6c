#pragma once
// What interpreting one page's content leaves on the page (KVPDFPage::parseContent): the state
// at the end, the saved states still open, the text runs in content order, the images drawn,
// and the dispatcher's counts. Made whole by one parse and not changed afterwards.
#include "KVPDFContentInterpreter.h"
#include "KVPDFGraphicsState.h"
#include "KVPDFImage.h"
#include "KVPDFTextBlob.h"

#include <memory>
#include <vector>

class KVPDFPageContent {
public:
    KVPDFGraphicsState gstate;
    std::vector<KVPDFGraphicsState> gstateStack;
    std::vector<std::shared_ptr<KVPDFTextBlob>> textBlobs;
    std::vector<std::shared_ptr<KVPDFImage>> images;
    KVPDFContentStats stats;
};
