# Writes a file's bytes as a C++ array: cmake -DINPUT=f -DOUTPUT=f.cpp
# -DNAME=kName -DHEADER=path/to/header.h -P embed.cmake
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" length)
math(EXPR size "${length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE ${OUTPUT} "#include \"${HEADER}\"\n\nconst uint8_t ${NAME}[] = {\n${bytes}\n};\nconst size_t ${NAME}Size = ${size};\n")
