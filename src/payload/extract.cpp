// Extraction of the payload. Until the archive reader exists, every run ends
// through the failure path of the walk.
#include "payload/extract.h"

#include <stdlib.h>

#include "app/workfolder.h"
#include "texts.h"
#include "ui/msgbox.h"

void ExtractPayload(const char* destination, int pass) {
    ErrorBox(kTextPayloadDamaged);
    RemoveWorkFolder();
    exit(-1);
}
