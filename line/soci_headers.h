// line/soci_headers.h: SOCI's headers, without its Boost integration. Debian's SOCI is built
// with Boost, so its headers pull in Boost's when SOCI_HAVE_BOOST is set, yet the store
// exchanges only the standard library's types; the integration is header-only glue, so the
// build needs no Boost.
#pragma once

#include <soci/soci-config.h>
#undef SOCI_HAVE_BOOST
#undef SOCI_HAVE_BOOST_DATE_TIME

#include <soci/postgresql/soci-postgresql.h>
#include <soci/soci.h>
#include <soci/sqlite3/soci-sqlite3.h>
