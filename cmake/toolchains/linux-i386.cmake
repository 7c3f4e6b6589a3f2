# 32-bit Linux through g++-multilib: runs the 4-byte-pointer record layout natively.
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
# Libraries of the i386 architecture (Google Benchmark, spdlog) from Debian's multiarch.
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
