// Files handed over by the companion script.

#include "app/app.h"
#include "fileops/itunes.h"

void CApp::ApplicationActivated() {
    ProcessRequestFile(
        [this](std::vector<CFileRef> refs, std::vector<int32_t> ids) {
            return AddItems(std::move(refs), std::move(ids));
        },
        identifyAfterAdd);
}
