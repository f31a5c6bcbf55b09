# The PostgreSQL server programs (initdb, pg_ctl, psql) with which the record
# store's tests and benchmark start a throwaway cluster. Debian keeps them in
# /usr/lib/postgresql/NN/bin, out of PATH; the newest one is taken.
file(GLOB _zorm_pg_bindirs /usr/lib/postgresql/*/bin)
list(SORT _zorm_pg_bindirs COMPARE NATURAL ORDER DESCENDING)
find_program(ZORM_PG_CTL pg_ctl HINTS ${_zorm_pg_bindirs})
if(ZORM_PG_CTL)
    cmake_path(GET ZORM_PG_CTL PARENT_PATH ZORM_PG_BINDIR)
endif()
