// The calls as the program's settings load and save make them.
#include "RegistryFixture.h"

namespace {

using RegistryCallsTest = RegistryFixture;

TEST_F(RegistryCallsTest, TheSizeCountsTheNulAndABufferOfThatSizeIsFilled) {
  ASSERT_EQ(Save({{"FrameRate", Sz("250")}}), ERROR_SUCCESS);
  HKEY hKey = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, SORREL_KEY, 0, KEY_QUERY_VALUE, &hKey), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(hKey, "FrameRate", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 4u);
  char buffer[4] = {'x', 'x', 'x', 'x'};
  DWORD type = 0;
  EXPECT_EQ(RegQueryValueExA(hKey, "FrameRate", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(buffer, 4), Sz("250"));
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(RegCloseKey(hKey), ERROR_SUCCESS);
}

TEST_F(RegistryCallsTest, ATooSmallBufferGetsMoreDataTheSizeNeededAndIsLeftAlone) {
  ASSERT_EQ(Save({{"SequenceFile", Sz("/data/run.sif")}}), ERROR_SUCCESS);
  HKEY hKey = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, SORREL_KEY, 0, KEY_QUERY_VALUE, &hKey), ERROR_SUCCESS);
  char buffer[8] = "unused";
  DWORD size = sizeof buffer;
  EXPECT_EQ(RegQueryValueExA(hKey, "SequenceFile", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 14u);
  EXPECT_STREQ(buffer, "unused");
  EXPECT_EQ(RegCloseKey(hKey), ERROR_SUCCESS);
}

TEST_F(RegistryCallsTest, MissingKeysAndValuesAreNotFound) {
  HKEY hKey = reinterpret_cast<HKEY>(this);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, SORREL_KEY, 0, KEY_QUERY_VALUE, &hKey), ERROR_FILE_NOT_FOUND)
      << "no store file yet";
  EXPECT_EQ(hKey, nullptr);

  ASSERT_EQ(Save({{"LaserDuty", Sz("50")}}), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orvane Radara\\Other", 0, KEY_QUERY_VALUE, &hKey),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orvane", 0, KEY_QUERY_VALUE, &hKey), ERROR_FILE_NOT_FOUND)
      << "a name that only begins like a key is no key";
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orvane Radara", 0, KEY_QUERY_VALUE, &hKey), ERROR_SUCCESS)
      << "a key above one in the store exists";
  EXPECT_EQ(RegCloseKey(hKey), ERROR_SUCCESS);

  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, SORREL_KEY, 0, KEY_QUERY_VALUE, &hKey), ERROR_SUCCESS);
  DWORD size = 99;
  EXPECT_EQ(RegQueryValueExA(hKey, "LaserAGain", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegCloseKey(hKey), ERROR_SUCCESS);
}

TEST_F(RegistryCallsTest, ACreatedKeyIsSavedOnlyWhenClosedAndThenReadsBack) {
  DWORD disposition = 0;
  HKEY hKey = CreateKey(&disposition);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  ASSERT_EQ(Set(hKey, "LaserDuty", Sz("75")), ERROR_SUCCESS);
  EXPECT_EQ(Load("LaserDuty"), std::nullopt) << "nothing is saved before the key is closed";
  EXPECT_EQ(RegCloseKey(hKey), ERROR_SUCCESS);
  EXPECT_EQ(Load("LaserDuty"), Sz("75"));
  EXPECT_EQ(Load("laserduty", "software\\ORVANE RADARA\\sorrel"), Sz("75")) << "names compare without letter case";

  hKey = CreateKey(&disposition);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  ASSERT_EQ(Set(hKey, "laserduty", Sz("80")), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(hKey), ERROR_SUCCESS);
  EXPECT_EQ(ReadText(StorePath()), "REGEDIT4\n\n" + std::string(SORREL_SECTION) + "\n\"LaserDuty\"=\"80\"\n\n")
      << "a value set again under another spelling keeps its place and its name";
}

TEST_F(RegistryCallsTest, KeysAreUsedOnlyAsOpenedAndOnlyWhileOpen) {
  ASSERT_EQ(Save({{"HideComp", Sz("1")}}), ERROR_SUCCESS);
  HKEY hKey = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, SORREL_KEY, 0, KEY_QUERY_VALUE, &hKey), ERROR_SUCCESS);
  EXPECT_EQ(Set(hKey, "HideComp", Sz("0")), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCloseKey(hKey), ERROR_SUCCESS);
  EXPECT_EQ(Load("HideComp"), Sz("1"));

  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(hKey, "HideComp", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(hKey), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);

  hKey = CreateKey();
  EXPECT_EQ(RegQueryValueExA(hKey, "HideComp", nullptr, nullptr, nullptr, &size), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Set(hKey, "Two\nLines", Sz("0")), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCloseKey(hKey), ERROR_SUCCESS);
}

}  // namespace
