// tools/shader_pack/no_shader_pack.cpp - the shader-pack block of a library
// built without one (the shader-pack tool's own link, which makes the block).
#include "lib/graphics/shader_packs.h"

ShaderPackBlob EmbeddedShaderPack() { return {nullptr, 0}; }
