include_guard(GLOBAL)
# kestrel_pg_server_fixture: what a test or benchmark that includes tests/support/pg_server.h
# links: libpq, and in KESTREL_PG_BINDIR the folder of PostgreSQL's server programs, which
# pg_config (libpq-dev) names at configure time. initdb is looked for there now, so a missing server package stops
# the configure instead of failing every such test.
find_program(KESTREL_PG_CONFIG pg_config REQUIRED)
execute_process(COMMAND ${KESTREL_PG_CONFIG} --bindir OUTPUT_VARIABLE KESTREL_PG_BINDIR
  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
find_program(KESTREL_PG_INITDB initdb PATHS ${KESTREL_PG_BINDIR} NO_DEFAULT_PATH)
if(NOT KESTREL_PG_INITDB)
  message(FATAL_ERROR "No initdb in ${KESTREL_PG_BINDIR}: the tests need PostgreSQL's server (scripts/setup.sh installs it)")
endif()
add_library(kestrel_pg_server_fixture INTERFACE)
target_link_libraries(kestrel_pg_server_fixture INTERFACE PkgConfig::LIBPQ)
target_compile_definitions(kestrel_pg_server_fixture INTERFACE KESTREL_PG_BINDIR="${KESTREL_PG_BINDIR}")
