// The password's characters are erased before its memory is released, and
// nothing else is touched.
#include "launcher/credentials.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "import_patch.h"

namespace {

// Copies of watched blocks as free() received them, in the order of release.
struct ReleasedBlock {
    const void* address;
    std::vector<wchar_t> content;
};

struct WatchedBlock {
    const void* address;
    std::size_t chars;
};

std::vector<WatchedBlock> g_watched;
std::vector<ReleasedBlock> g_released;
decltype(&::free) g_free = nullptr;

void InspectingFree(void* memory) {
    for (const WatchedBlock& block : g_watched) {
        if (block.address == memory) {
            const auto* chars = static_cast<const wchar_t*>(memory);
            g_released.push_back({memory, std::vector<wchar_t>(chars, chars + block.chars)});
        }
    }
    g_free(memory);
}

// A string's whole buffer: its characters, the terminator and the spare capacity.
std::size_t BufferChars(const std::wstring& text) { return text.capacity() + 1; }

std::vector<wchar_t> Contents(const std::wstring& text) {
    return std::vector<wchar_t>(text.data(), text.data() + BufferChars(text));
}

// A password of `length` characters 'p' whose spare capacity holds 'S' characters.
void FillPassword(std::wstring& password, std::size_t length, std::size_t spare) {
    password.assign(length + spare, L'S');
    password.resize(length);
    std::fill(password.begin(), password.end(), L'p');
}

std::vector<wchar_t> Erased(std::vector<wchar_t> contents, std::size_t length) {
    std::fill(contents.begin(), contents.begin() + static_cast<std::ptrdiff_t>(length), L'\0');
    return contents;
}

TEST(ErasePassword, ZeroesExactlyThePasswordsCharacters) {
    launcher::Credentials credentials;
    credentials.user_name = L"a user name long enough for the heap";
    credentials.domain = L"a domain name long enough for the heap";
    FillPassword(credentials.password, 40, 24);
    ASSERT_GT(credentials.password.capacity(), 40u);
    const std::vector<wchar_t> before = Contents(credentials.password);
    const std::vector<wchar_t> user_before = Contents(credentials.user_name);
    const std::vector<wchar_t> domain_before = Contents(credentials.domain);
    ASSERT_EQ(before[40], L'\0');
    ASSERT_EQ(before[41], L'S');

    credentials.ErasePassword();

    EXPECT_EQ(credentials.password.size(), 40u);
    EXPECT_EQ(Contents(credentials.password), Erased(before, 40));
    EXPECT_EQ(Contents(credentials.user_name), user_before);
    EXPECT_EQ(Contents(credentials.domain), domain_before);
}

TEST(ErasePassword, EmptyPasswordIsLeftAlone) {
    launcher::Credentials credentials;
    credentials.user_name = L"user";
    credentials.ErasePassword();
    EXPECT_TRUE(credentials.password.empty());
    EXPECT_EQ(credentials.user_name, L"user");
}

class CredentialsDestructor : public ::testing::Test {
  protected:
    CredentialsDestructor()
        : free_patch_("msvcrt.dll", "free", reinterpret_cast<const void*>(&InspectingFree)) {
        g_free = free_patch_.original_as<decltype(&::free)>();
        g_watched.clear();
        g_released.clear();
    }
    ~CredentialsDestructor() override { g_watched.clear(); }

    // A Credentials whose destructor the test calls itself, so that its
    // storage can still be read afterwards.
    launcher::Credentials* Make() { return new (&storage_) launcher::Credentials(); }
    const unsigned char* storage() const {
        return reinterpret_cast<const unsigned char*>(&storage_);
    }

  private:
    std::aligned_storage_t<sizeof(launcher::Credentials), alignof(launcher::Credentials)> storage_;
    testing_support::ImportPatch free_patch_;
};

TEST_F(CredentialsDestructor, ErasesTheHeapPasswordBeforeReleasingIt) {
    launcher::Credentials* credentials = Make();
    credentials->user_name = L"a user name long enough for the heap";
    credentials->domain = L"a domain name long enough for the heap";
    FillPassword(credentials->password, 40, 24);
    const std::vector<wchar_t> password = Contents(credentials->password);
    const std::vector<wchar_t> user = Contents(credentials->user_name);
    const std::vector<wchar_t> domain = Contents(credentials->domain);
    const void* password_block = credentials->password.data();
    const void* user_block = credentials->user_name.data();
    const void* domain_block = credentials->domain.data();
    g_watched = {{password_block, password.size()},
                 {user_block, user.size()},
                 {domain_block, domain.size()}};

    credentials->~Credentials();
    g_watched.clear();

    // Released password first, then domain, then user name; only the
    // password's characters were zeroed.
    ASSERT_EQ(g_released.size(), 3u);
    EXPECT_EQ(g_released[0].address, password_block);
    EXPECT_EQ(g_released[0].content, Erased(password, 40));
    EXPECT_EQ(g_released[1].address, domain_block);
    EXPECT_EQ(g_released[1].content, domain);
    EXPECT_EQ(g_released[2].address, user_block);
    EXPECT_EQ(g_released[2].content, user);
}

TEST_F(CredentialsDestructor, ErasesAShortPasswordInPlace) {
    launcher::Credentials* credentials = Make();
    credentials->password = L"abc";
    const auto* password_chars =
        reinterpret_cast<const unsigned char*>(credentials->password.data());
    const std::size_t offset = static_cast<std::size_t>(password_chars - storage());
    // Only a password kept inside the object can be read after its destruction.
    ASSERT_LT(offset, sizeof(launcher::Credentials));
    wchar_t before[4];
    std::memcpy(before, password_chars, sizeof(before));
    ASSERT_EQ(before[0], L'a');

    credentials->~Credentials();

    wchar_t after[4];
    std::memcpy(after, storage() + offset, sizeof(after));
    EXPECT_EQ(after[0], L'\0');
    EXPECT_EQ(after[1], L'\0');
    EXPECT_EQ(after[2], L'\0');
    EXPECT_EQ(after[3], L'\0');  // the terminator, zero before and after
    EXPECT_TRUE(g_released.empty());
}

}  // namespace
