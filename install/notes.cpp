// Where the install's notes go.
#include "install/notes.h"

namespace install {
namespace {
Notes g_silent;
Notes* g_notes = &g_silent;
}  // namespace

void SetNotes(Notes* notes) {
    g_notes = notes ? notes : &g_silent;
}

Notes& CurrentNotes() {
    return *g_notes;
}

}  // namespace install
