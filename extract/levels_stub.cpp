// The stub reads level-2 headers and only the methods it decodes: its reader
// is the level-2 reader itself, and nothing here costs it a byte.
#include "extract/levels.h"

#include "base/text.h"
#include "core/workarea.h"

HeaderReadResult ReadNextHeader() { return ReadMemberHeader(); }

uint32_t MemberHeaderLength() { return ReadLe16(Work->header + HdrSize); }

FileOffset ArchiveStartOffset() { return Work->config.archiveOffset; }
