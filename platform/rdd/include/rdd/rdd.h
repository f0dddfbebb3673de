// The table driver "DBFCDX": dBASE III tables with compact compound (.cdx) indexes.
// Promises the published byte layouts, byte-order key collation, UTF-8 text converted to and from
// each table's code page, and that every failure is raised through the run-time's protocol with
// the file's name. A Table owns its files; callers own Tables.
// Thread rule: one thread uses a Table and its Env; a Table lays out index pages on helper
// threads of its own, which never touch the Env.
#pragma once
#include "rdd/env.h"
#include "rdd/table.h"
