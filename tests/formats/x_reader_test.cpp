// DirectX text meshes: every block kind read as written, and hostile text refused quickly.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "formats/x_model.h"
#include "tests/support/x_writer.h"

namespace qv {

namespace {

Result Parse(XModel& model, const std::string& text) {
    return ParseXModel(model, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

XModel Parsed(const std::string& text) {
    XModel model;
    const Result result = Parse(model, text);
    EXPECT_TRUE(result.ok()) << result.message;
    return model;
}

std::string Refusal(const std::string& text) {
    XModel model;
    const auto start = std::chrono::steady_clock::now();
    const Result result = Parse(model, text);
    // Hostile text is turned away at once, not after a long walk.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.code, E_FAIL);
    EXPECT_TRUE(model.meshes.empty() && model.frames.empty());
    return result.message;
}

Float3 Apply(const XMatrix& m, Float3 v) {
    return {v.x * m[0] + v.y * m[4] + v.z * m[8] + m[12],
            v.x * m[1] + v.y * m[5] + v.z * m[9] + m[13],
            v.x * m[2] + v.y * m[6] + v.z * m[10] + m[14]};
}

}  // namespace

TEST(XReader, ATexturedCubeKeepsItsFacesNormalsCoordinatesAndMaterial) {
    const XModel model = Parsed(XTexturedCube("tex\\\\cube.png"));
    EXPECT_EQ(model.versionMajor, 3);
    EXPECT_EQ(model.versionMinor, 3);
    EXPECT_EQ(model.floatBits, 32);
    ASSERT_EQ(model.meshes.size(), 1u);
    const XMesh& cube = model.meshes[0];
    EXPECT_EQ(cube.name, u"Cube");
    EXPECT_EQ(cube.positions.size(), 24u);
    ASSERT_EQ(cube.triangleCount(), 12u);
    // The first quad fans into (0,1,2) and (0,2,3).
    EXPECT_EQ(std::vector<std::uint32_t>(cube.corners.begin(), cube.corners.begin() + 6),
              (std::vector<std::uint32_t>{0, 1, 2, 0, 2, 3}));
    ASSERT_EQ(cube.normals.size(), 6u);
    ASSERT_EQ(cube.normalCorners.size(), 36u);
    EXPECT_EQ(cube.normals[cube.normalCorners[0]], (Float3{1, 0, 0}));
    EXPECT_EQ(cube.normals[cube.normalCorners[35]], (Float3{0, 0, -1}));
    ASSERT_EQ(cube.texcoords.size(), 24u);
    EXPECT_EQ(cube.texcoords[2], (Float2{1, 0}));
    ASSERT_EQ(cube.materials.size(), 1u);
    const XMaterial& side = cube.materials[0];
    EXPECT_EQ(side.name, u"Side");
    EXPECT_EQ(side.faceColor, (Float4{1, 1, 1, 1}));
    EXPECT_FLOAT_EQ(side.power, 5.0f);
    EXPECT_FLOAT_EQ(side.specular.y, 0.2f);
    EXPECT_FLOAT_EQ(side.emissive.z, 0.3f);
    EXPECT_EQ(side.texture, u"tex\\cube.png");  // doubled backslashes are one
    EXPECT_EQ(side.sphereMode, kXSphereNone);
    EXPECT_EQ(cube.triangleMaterials, std::vector<std::uint32_t>(12, 0));
}

TEST(XReader, FramesNestAndTheirMatricesComposeChildFirst) {
    const XModel model = Parsed(XFrameHierarchy());
    EXPECT_EQ(model.versionMinor, 2);
    EXPECT_EQ(model.floatBits, 64);
    ASSERT_EQ(model.frames.size(), 2u);
    EXPECT_EQ(model.frames[0].name, u"Root");
    EXPECT_EQ(model.frames[0].parent, -1);
    EXPECT_EQ(model.frames[1].name, u"Child");
    EXPECT_EQ(model.frames[1].parent, 0);
    ASSERT_EQ(model.meshes.size(), 2u);
    EXPECT_EQ(model.meshes[0].frame, 1);
    EXPECT_EQ(model.meshes[1].frame, -1);
    // Scaled by the child, then moved up by the root: (1,0,0) lands at (2,1,0).
    const Float3 p = Apply(FrameToModel(model, 1), {1, 0, 0});
    EXPECT_FLOAT_EQ(p.x, 2.0f);
    EXPECT_FLOAT_EQ(p.y, 1.0f);
    EXPECT_FLOAT_EQ(p.z, 0.0f);
    EXPECT_EQ(FrameToModel(model, -1), kXIdentity);
    // Without a material list a mesh is plain white.
    ASSERT_EQ(model.meshes[1].materials.size(), 1u);
    EXPECT_EQ(model.meshes[1].materials[0].faceColor, (Float4{1, 1, 1, 1}));
}

TEST(XReader, PolygonsFanAroundTheirFirstCornerAndKeepTheirFacesMaterial) {
    const XModel model = Parsed(XPolygonFan());
    const XMesh& mesh = model.meshes.at(0);
    ASSERT_EQ(mesh.triangleCount(), 6u);
    EXPECT_EQ(std::vector<std::uint32_t>(mesh.corners.begin(), mesh.corners.begin() + 12),
              (std::vector<std::uint32_t>{5, 4, 3, 5, 3, 2, 5, 2, 1, 5, 1, 0}));
    EXPECT_EQ(mesh.triangleMaterials, (std::vector<std::uint32_t>{0, 0, 0, 0, 1, 1}));
    EXPECT_FLOAT_EQ(mesh.materials.at(1).faceColor.w, 0.5f);
}

TEST(XReader, TextureNamesSplitIntoTextureAndSphereMapByTheirEndings) {
    const XModel model = Parsed(XSphereMapped());
    const XMesh& ball = model.meshes.at(0);
    ASSERT_EQ(ball.materials.size(), 2u);
    EXPECT_EQ(ball.materials[0].texture, u"base.png");
    EXPECT_EQ(ball.materials[0].sphere, u"env.sph");
    EXPECT_EQ(ball.materials[0].sphereMode, kXSphereMultiply);
    // The named top-level material, referred to by name, is a sphere map alone.
    EXPECT_EQ(ball.materials[1].name, u"Glow");
    EXPECT_EQ(ball.materials[1].texture, u"");
    EXPECT_EQ(ball.materials[1].sphere, u"glow.spa");
    EXPECT_EQ(ball.materials[1].sphereMode, kXSphereAdd);
    EXPECT_EQ(ball.triangleMaterials, (std::vector<std::uint32_t>{0, 0, 0, 0, 1, 1, 1, 1}));
}

TEST(XReader, ASphereMapNamedBeforeItsTextureIsStillTheSphereMap) {
    const XModel model = Parsed(
        "xof 0303txt 0032\nMesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;;\n"
        " MeshMaterialList { 1; 1; 0;; Material { 1;1;1;1;; 1; 0;0;0;; 0;0;0;;\n"
        "  TextureFilename { \"shine.SPA*skin.png\"; } } } }\n");
    const XMaterial& material = model.meshes.at(0).materials.at(0);
    EXPECT_EQ(material.texture, u"skin.png");
    EXPECT_EQ(material.sphere, u"shine.SPA");
    EXPECT_EQ(material.sphereMode, kXSphereAdd);
}

TEST(XReader, CommentsSeparatorsAndCodePage932NamesReadAsWritten) {
    // "セ" in code page 932, comments of both kinds, and separators where
    // exporters scatter them.
    const XModel model = Parsed(
        "xof 0303txt 0032\r\n# made by hand\r\nFrame \x83\x5A {\r\n Mesh { 3;; 0;0;0;, // a\r\n"
        "1;0;0;,0;1;0;;\r\n 1; 3; 0, 1, 2;;, \r\n MeshNormals { 1; 0;0;1;; 1; 3;0,0,0;; "
        "}\r\n}}\r\n");
    ASSERT_EQ(model.frames.size(), 1u);
    EXPECT_EQ(model.frames[0].name, u"\u30BB");
    ASSERT_EQ(model.meshes.size(), 1u);
    EXPECT_EQ(model.meshes[0].positions[2], (Float3{0, 1, 0}));
    EXPECT_EQ(model.meshes[0].normalCorners, (std::vector<std::uint32_t>{0, 0, 0}));
}

TEST(XReader, DoubleByteNamesWhoseSecondByteIsABraceStayWhole) {
    // "ボディ" and "マ": the second bytes of ボ and マ are '{' and '}'.
    const XModel model =
        Parsed("xof 0303txt 0032\nFrame \x83\x7B\x83\x66\x83\x42 { Frame \x83\x7D {} }\n");
    ASSERT_EQ(model.frames.size(), 2u);
    EXPECT_EQ(model.frames[0].name, u"\u30DC\u30C7\u30A3");
    EXPECT_EQ(model.frames[1].name, u"\u30DE");
    EXPECT_EQ(model.frames[1].parent, 0);
}

TEST(XReader, TopLevelMaterialsWithDoubleByteNamesAreFoundByTheirReferences) {
    // "セ" and "ボ", defined at the top level and named in a mesh's list.
    const XModel model = Parsed(
        "xof 0303txt 0032\nMaterial \x83\x5A { 1;0;0;1;; 1; 0;0;0;; 0;0;0;; }\n"
        "Material \x83\x7B { 0;1;0;1;; 1; 0;0;0;; 0;0;0;; }\n"
        "Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;;\n"
        " MeshMaterialList { 2; 1; 1;; { \x83\x5A } { \x83\x7B } } }\n");
    const XMesh& mesh = model.meshes.at(0);
    ASSERT_EQ(mesh.materials.size(), 2u);
    EXPECT_EQ(mesh.materials[0].name, u"\u30BB");
    EXPECT_EQ(mesh.materials[0].faceColor, (Float4{1, 0, 0, 1}));
    EXPECT_EQ(mesh.materials[1].name, u"\u30DC");
    EXPECT_EQ(mesh.materials[1].faceColor, (Float4{0, 1, 0, 1}));
    EXPECT_EQ(mesh.triangleMaterials, (std::vector<std::uint32_t>{1}));
}

TEST(XReader, NormalsThatDoNotFitTheFacesAreLeftOutNotFatal) {
    const XModel model = Parsed(
        "xof 0303txt 0032 Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;;"
        " MeshNormals { 1; 0;0;1;; 1; 4;0,0,0,0;; } MeshTextureCoords { 2; 0;0;, 1;1;; } }");
    ASSERT_EQ(model.meshes.size(), 1u);
    EXPECT_TRUE(model.meshes[0].normals.empty());
    EXPECT_TRUE(model.meshes[0].texcoords.empty());  // fewer than the positions
}

TEST(XReader, OtherFormsAndHostileTextAreRefusedWithAReason) {
    EXPECT_NE(Refusal("xof 0303bin 0032 whatever").find("binary form"), std::string::npos);
    EXPECT_NE(Refusal("xof 0303tzip0032 whatever").find("compressed form"), std::string::npos);
    EXPECT_NE(Refusal("xof 0303bzip0064 whatever").find("compressed form"), std::string::npos);
    EXPECT_NE(Refusal("PK\x03\x04 not a mesh at all").find("xof"), std::string::npos);
    Refusal("xof 0303txt 0016 Mesh {}");
    Refusal("");

    const std::string h = "xof 0303txt 0032\n";
    // Counts of 2^31 and of more than 32 bits.
    EXPECT_NE(
        Refusal(h + "Mesh { 2147483648; 0;0;0;; 1; 3;0,0,0;; }").find("shorter than its count"),
        std::string::npos);
    Refusal(h + "Mesh { 99999999999; 0;0;0;; }");
    Refusal(h + "Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 2147483648; 3;0,1,2;; }");
    Refusal(h + "Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 2147483647;0,1,2;; }");
    // Lists shorter than their counts.
    Refusal(h + "Mesh { 3; 0;0;0;, 1;0;0;; 1; 3;0,1,2;; }");
    Refusal(h + "Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 2; 3;0,1,2;; }");
    // Indices past the lists they point into.
    EXPECT_NE(Refusal(h + "Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,3;; }").find("position"),
              std::string::npos);
    Refusal(h +
            "Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; MeshMaterialList { 1; 1; 1;;"
            " Material { 1;1;1;1;; 1; 0;0;0;; 0;0;0;; } } }");
    Refusal(h +
            "Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; MeshMaterialList { 1; 1; 0;;"
            " { Nowhere } } }");
    // A megabyte of nesting, in frames and in blocks the reader skips.
    std::string frames = h;
    std::string blocks = h + "AnimationSet ";
    for (int i = 0; i < 100000; ++i) {
        frames += "Frame {";
        blocks += "{ ";
    }
    EXPECT_NE(Refusal(frames).find("nested"), std::string::npos);
    EXPECT_NE(Refusal(blocks).find("not closed"), std::string::npos);
    // Unterminated blocks, strings and stray braces.
    Refusal(h + "Frame Root { Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; }");
    Refusal(h +
            "Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; MeshMaterialList { 1; 1; 0;;"
            " Material { 1;1;1;1;; 1; 0;0;0;; 0;0;0;; TextureFilename { \"open.png; } } } }");
    Refusal(h + "}");
    Refusal(h + "Mesh { 3; 0;0;nan;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; }");
}

}  // namespace qv
