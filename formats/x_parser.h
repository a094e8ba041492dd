// The DirectX text mesh parser shared by its two source files: blocks and frames, meshes.
#pragma once

#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "formats/x_model.h"
#include "formats/x_tokens.h"
#include "platform/code_page.h"

namespace qv {

// One parse of one file's text (after its header) into `model`; the first
// refusal is kept and names what broke and on which line. One thread uses it.
class XParser {
public:
    XParser(XModel& model, std::span<const std::uint8_t> text) : model_(model), tokens_(text) {}

    Result Run();

private:
    bool Fail(const std::string& what);
    bool Expect(XTokenKind kind, const char* what);
    bool ReadCount(std::uint32_t& count, const char* what);
    bool ReadIndex(std::uint32_t& value, const char* what);
    bool ReadFloat(float& value, const char* what);
    bool ReadFloats(float* values, int n, const char* what);
    // A count, then that many vectors of floats.
    template <typename V>
    bool ReadVectors(std::vector<V>& out, const char* what);
    bool SkipBlock();
    // The type word of the next inner block of the block being read.
    enum class Next { Child, Closed, Failed };
    Next NextChild(std::string_view& type, const char* where);
    bool OpenNamedBlock(std::u16string* name);
    bool ParseObject(std::string_view type, std::int32_t frame, int depth);
    bool ParseFrame(std::int32_t parent, int depth);
    bool ParseMesh(std::int32_t frame, int depth);
    bool ParseMaterial(XMaterial& material, int depth);
    bool ParseFaces(std::vector<std::uint32_t>& corners, std::vector<std::uint32_t>& sizes,
                    const char* what);
    bool ParseNormals(XMesh& mesh, const std::vector<std::uint32_t>& faceSizes);
    bool ParseTexcoords(XMesh& mesh);
    bool ParseMaterialList(XMesh& mesh, const std::vector<std::uint32_t>& faceSizes, int depth);
    std::u16string Decode(std::string_view bytes);

    XModel& model_;
    XTokens tokens_;
    Cp932Decoder cp932_;
    std::map<std::u16string, XMaterial> namedMaterials_;
    std::string error_;
};

}  // namespace qv
