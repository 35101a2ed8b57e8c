# Every external library, found once; targets below link the imported names.
find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
find_package(GTest REQUIRED)
find_package(nlohmann_json REQUIRED)
find_package(ICU REQUIRED COMPONENTS uc i18n)
pkg_check_modules(PLIST REQUIRED IMPORTED_TARGET libplist-2.0)
find_package(SQLite3 REQUIRED)
find_package(ZLIB REQUIRED)
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
find_package(CURL REQUIRED)
find_package(nanopb CONFIG REQUIRED)
pkg_check_modules(CAIRO REQUIRED IMPORTED_TARGET cairo pangocairo)

# Tools the build runs. Debian's own interpreter comes first: the wire
# cross-check imports Debian's protobuf module, which another python on the
# PATH may lack.
find_program(MOSSBRIDGE_PYTHON3 python3 HINTS /usr/bin REQUIRED)
find_program(PROTOC_EXECUTABLE protoc REQUIRED)
find_program(NANOPB_GENERATOR NAMES nanopb_generator.py nanopb_generator REQUIRED)
