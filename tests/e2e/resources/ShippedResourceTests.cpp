// The shipped files as Windows' file properties read them: the fixed version numbers and the
// texts of the version resource (GetFileVersionInfo, VerQueryValue), which must name the product
// and the file and carry the version of this build; and the program's manifest, which must
// declare it aware of the system's pixel density so that Windows does not stretch its windows,
// and name the program with the same version.
#include "ProjectVersion.h"
#include "tests/e2e/robot/Robot.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct TShippedFile {
    const char *path;
    const char *originalName;
    const char *description;
    DWORD fileType;
};

const TShippedFile ShippedFiles[] = {
    {M770B_PROGRAM_FILE, "M770BUpdate.exe", "ZD-M770B firmware updater", VFT_APP},
    {M770B_MANAGER_FILE, "wnaspi32.dll",
     "ASPI for Win32 over the Windows SCSI pass-through interface", VFT_DLL},
};

class TVersionInfo {
  public:
    explicit TVersionInfo(const std::string &path) {
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
        if (!size)
            return;
        data_.resize(size);
        if (!GetFileVersionInfoA(path.c_str(), 0, size, data_.data()))
            data_.clear();
    }
    bool Present() const { return !data_.empty(); }
    const VS_FIXEDFILEINFO *Fixed() const {
        void *value = nullptr;
        UINT length = 0;
        if (!Present() || !VerQueryValueA(data_.data(), "\\", &value, &length) ||
            length < sizeof(VS_FIXEDFILEINFO))
            return nullptr;
        return static_cast<const VS_FIXEDFILEINFO *>(value);
    }
    // A text of the first translation the resource lists, as Explorer reads it.
    std::string Text(const std::string &name) const {
        struct TTranslation {
            WORD language, codePage;
        } *translation = nullptr;
        UINT length = 0;
        if (!Present() ||
            !VerQueryValueA(data_.data(), "\\VarFileInfo\\Translation",
                            reinterpret_cast<void **>(&translation), &length) ||
            length < sizeof *translation)
            return "<no translation>";
        char block[64];
        wsprintfA(block, "\\StringFileInfo\\%04x%04x\\", translation->language,
                  translation->codePage);
        char *text = nullptr;
        if (!VerQueryValueA(data_.data(), (block + name).c_str(), reinterpret_cast<void **>(&text),
                            &length) ||
            !length)
            return "<missing>";
        return std::string(text);
    }

  private:
    mutable std::vector<BYTE> data_;
};

TEST(ShippedFiles, CarryTheProductAndTheVersionOfThisBuild) {
    const DWORD versionMs = (M770B_VERSION_MAJOR << 16) | M770B_VERSION_MINOR;
    const DWORD versionLs = M770B_VERSION_PATCH << 16;
    for (const TShippedFile &file : ShippedFiles) {
        SCOPED_TRACE(file.originalName);
        TVersionInfo info(WindowsPath(file.path));
        ASSERT_TRUE(info.Present()) << "no version resource in " << file.path;
        const VS_FIXEDFILEINFO *fixed = info.Fixed();
        ASSERT_NE(nullptr, fixed);
        EXPECT_EQ(VS_FFI_SIGNATURE, fixed->dwSignature);
        EXPECT_EQ(versionMs, fixed->dwFileVersionMS);
        EXPECT_EQ(versionLs, fixed->dwFileVersionLS);
        EXPECT_EQ(versionMs, fixed->dwProductVersionMS);
        EXPECT_EQ(versionLs, fixed->dwProductVersionLS);
        EXPECT_EQ(file.fileType, fixed->dwFileType);
        EXPECT_EQ("ZD-M770B Firmware update", info.Text("ProductName"));
        EXPECT_EQ(file.description, info.Text("FileDescription"));
        EXPECT_EQ(M770B_VERSION_TEXT, info.Text("FileVersion"));
        EXPECT_EQ(M770B_VERSION_TEXT, info.Text("ProductVersion"));
        EXPECT_EQ(file.originalName, info.Text("OriginalFilename"));
    }
}

// The manifest as the loader finds it: resource 1 of type RT_MANIFEST.
std::string ProgramManifest() {
    HMODULE module =
        LoadLibraryExA(WindowsPath(M770B_PROGRAM_FILE).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        return {};
    std::string text;
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    if (loaded)
        text.assign(static_cast<const char *>(LockResource(loaded)), SizeofResource(module, found));
    FreeLibrary(module);
    return text;
}

TEST(ShippedFiles, ProgramManifestDeclaresSystemDensityAwarenessAndThisBuildsVersion) {
    const std::string manifest = ProgramManifest();
    ASSERT_FALSE(manifest.empty()) << "no manifest in " << M770B_PROGRAM_FILE;
    const std::string declarations[] = {
        "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true</dpiAware>",
        "<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">system"
        "</dpiAwareness>",
        // The program's own identity: this build's version in the four parts of the fixed file
        // version, which a manifest written by hand would not follow.
        "<assemblyIdentity type=\"win32\" name=\"M770BUpdate\" version=\"" M770B_VERSION_TEXT
        ".0\"",
    };
    for (const std::string &declaration : declarations)
        EXPECT_NE(std::string::npos, manifest.find(declaration)) << declaration;
}

} // namespace
