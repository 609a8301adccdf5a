# Where `cmake --install` and the Debian package put the program's files, under the prefix
# (CMAKE_INSTALL_PREFIX: /usr/local by default, /usr for the package). The programs find the
# other places from their own: support/installation.h takes the parent of the programs' folder
# as the prefix, so the places are given to it from here and cannot differ from the install
# rules'.
set(TESSERA_INSTALL_BINDIR bin)
set(TESSERA_INSTALL_MODULEDIR lib/tessera)
set(TESSERA_INSTALL_SAMPLESDIR share/tessera/samples)
set(TESSERA_INSTALL_DOCDIR share/doc/tessera)
