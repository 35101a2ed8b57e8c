#include "platform/core/UserDefaults.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/XdgPaths.h"

namespace {

namespace fs = std::filesystem;
using platform::PropertyData;
using platform::PropertyDictionary;
using platform::PropertyValue;
using platform::UserDefaults;

class UserDefaultsTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(platform::temporaryDirectory());
        std::string pattern = (platform::temporaryDirectory() / "user-defaults-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        folder_ = root_ / "config";
    }
    void TearDown() override {
        fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add);
        if (fs::exists(folder_)) fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(root_);
    }

    fs::path domainFile() const { return folder_ / "Mossbridge.plist"; }

    void writeFile(const fs::path& path, const std::string& contents) const {
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << contents;
    }

    std::vector<fs::path> strayFiles() const {
        std::vector<fs::path> stray;
        for (const auto& entry : fs::directory_iterator(folder_)) {
            if (entry.path() != domainFile()) stray.push_back(entry.path());
        }
        return stray;
    }

    fs::path root_;
    fs::path folder_;
};

TEST_F(UserDefaultsTest, KeepsKindsApartOnTypedReads) {
    UserDefaults defaults("Mossbridge", folder_);
    ASSERT_TRUE(defaults.set("flag", true));
    ASSERT_TRUE(defaults.set("text", "1"));
    ASSERT_TRUE(defaults.set("count", 1));
    ASSERT_TRUE(defaults.set("blob", PropertyData{0, 1, 0}));

    EXPECT_EQ(defaults.boolean("flag"), true);
    EXPECT_FALSE(defaults.boolean("text"));
    EXPECT_FALSE(defaults.boolean("count"));
    EXPECT_FALSE(defaults.integer("flag"));
    EXPECT_FALSE(defaults.integer("text"));
    EXPECT_FALSE(defaults.string("count"));
    EXPECT_FALSE(defaults.string("blob"));
    EXPECT_FALSE(defaults.data("text"));
    EXPECT_EQ(defaults.integer("count"), 1);
    EXPECT_EQ(defaults.real("count"), 1.0);
    EXPECT_EQ(defaults.string("text"), "1");
    EXPECT_EQ(defaults.data("blob"), (PropertyData{0, 1, 0}));
    EXPECT_FALSE(defaults.object("absent"));
}

TEST_F(UserDefaultsTest, ANewInstanceReadsWhatTheOldOneWrote) {
    const PropertyDictionary nested{{"list", platform::PropertyArray{1, "two", 3.5}}};
    {
        UserDefaults defaults("Mossbridge", folder_);
        ASSERT_TRUE(defaults.set("flag", false));
        ASSERT_TRUE(defaults.set("json", PropertyData{'{', '}'}));
        ASSERT_TRUE(defaults.set("nested", nested));
        ASSERT_TRUE(defaults.set("replaced", 1));
        ASSERT_TRUE(defaults.set("replaced", "now a string"));
        ASSERT_TRUE(defaults.set("gone", 5));
        ASSERT_TRUE(defaults.remove("gone"));
    }
    UserDefaults reopened("Mossbridge", folder_);
    EXPECT_EQ(reopened.dictionaryRepresentation(),
              (PropertyDictionary{{"flag", false},
                                  {"json", PropertyData{'{', '}'}},
                                  {"nested", nested},
                                  {"replaced", "now a string"}}));

    std::ifstream file(domainFile(), std::ios::binary);
    std::string magic(8, '\0');
    file.read(magic.data(), 8);
    EXPECT_EQ(magic, "bplist00");
}

TEST_F(UserDefaultsTest, DomainsAreSeparateFiles) {
    UserDefaults standard("Mossbridge", folder_);
    UserDefaults suite("group.example", folder_);
    ASSERT_TRUE(standard.set("k", 1));
    ASSERT_TRUE(suite.set("k", 2));
    EXPECT_EQ(UserDefaults("Mossbridge", folder_).integer("k"), 1);
    EXPECT_EQ(UserDefaults("group.example", folder_).integer("k"), 2);
    EXPECT_EQ(suite.filePath(), folder_ / "group.example.plist");
}

TEST_F(UserDefaultsTest, CreatesItsFolderOnlyOnTheFirstWrite) {
    const fs::path deep = folder_ / "a" / "b";
    UserDefaults defaults("Mossbridge", deep);
    EXPECT_FALSE(defaults.object("k"));
    EXPECT_TRUE(defaults.remove("k"));  // nothing to remove, nothing to write
    EXPECT_FALSE(fs::exists(deep));
    ASSERT_TRUE(defaults.set("k", 1));
    EXPECT_TRUE(fs::exists(deep / "Mossbridge.plist"));
}

TEST_F(UserDefaultsTest, CorruptFileReadsAsEmptyAndIsReplacedOnTheNextChange) {
    writeFile(domainFile(), "bplist00 this is not a property list at all");
    UserDefaults defaults("Mossbridge", folder_);
    EXPECT_TRUE(defaults.dictionaryRepresentation().empty());
    ASSERT_TRUE(defaults.set("k", "v"));
    EXPECT_EQ(UserDefaults("Mossbridge", folder_).dictionaryRepresentation(), (PropertyDictionary{{"k", "v"}}));
}

TEST_F(UserDefaultsTest, AnUnreadableFileIsMovedAsideNeverOverwritten) {
    std::string noise(300, '\0');
    for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 7919 + 13) % 251);
    writeFile(domainFile(), noise);
    UserDefaults defaults("Mossbridge", folder_);
    EXPECT_TRUE(defaults.dictionaryRepresentation().empty());
    ASSERT_TRUE(defaults.unreadableFile());
    EXPECT_EQ(defaults.unreadableFile()->file, domainFile());
    ASSERT_TRUE(defaults.unreadableFile()->movedTo);
    const fs::path aside = *defaults.unreadableFile()->movedTo;
    EXPECT_EQ(aside.parent_path(), folder_);
    EXPECT_EQ(aside.filename().string().rfind("Mossbridge.plist.unreadable-", 0), 0u) << aside;

    ASSERT_TRUE(defaults.set("k", "v"));
    std::ifstream kept(aside, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), noise);
    EXPECT_EQ(UserDefaults("Mossbridge", folder_).dictionaryRepresentation(), (PropertyDictionary{{"k", "v"}}));

    // A second unreadable file in the same second gets a name of its own.
    writeFile(domainFile(), noise);
    const auto again = UserDefaults("Mossbridge", folder_).unreadableFile();
    ASSERT_TRUE(again && again->movedTo);
    EXPECT_NE(*again->movedTo, aside);
    EXPECT_TRUE(fs::exists(aside));
    EXPECT_FALSE(UserDefaults("Mossbridge", folder_).unreadableFile());
}

TEST_F(UserDefaultsTest, AnUnreadableFileThatCannotBeMovedIsNeverWrittenOver) {
    writeFile(domainFile(), "not a property list");
    fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec);
    if (::access(folder_.c_str(), W_OK) == 0) GTEST_SKIP() << "the folder stays writable (running as root)";
    UserDefaults defaults("Mossbridge", folder_);
    ASSERT_TRUE(defaults.unreadableFile());
    EXPECT_FALSE(defaults.unreadableFile()->movedTo);
    fs::permissions(folder_, fs::perms::owner_all);
    EXPECT_FALSE(defaults.set("k", 1));
    EXPECT_EQ(defaults.integer("k"), 1);
    std::ifstream kept(domainFile(), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "not a property list");
}

TEST_F(UserDefaultsTest, StaleTemporaryFilesOfTheDomainAreRemovedAtStartButNotOneBeingWritten) {
    writeFile(folder_ / ".Mossbridge.plist.Ab12Cd", "bplist00 half written");
    writeFile(folder_ / ".Mossbridge.plist.Zz99Yy", "bplist00 being written");
    writeFile(folder_ / ".Other.plist.Ab12Cd", "another domain's");
    const int writing = ::open((folder_ / ".Mossbridge.plist.Zz99Yy").c_str(), O_RDONLY);
    ASSERT_GE(writing, 0);
    ASSERT_EQ(::flock(writing, LOCK_EX), 0);
    UserDefaults defaults("Mossbridge", folder_);
    ::close(writing);
    EXPECT_FALSE(fs::exists(folder_ / ".Mossbridge.plist.Ab12Cd"));
    EXPECT_TRUE(fs::exists(folder_ / ".Mossbridge.plist.Zz99Yy"));
    EXPECT_TRUE(fs::exists(folder_ / ".Other.plist.Ab12Cd"));
}

TEST_F(UserDefaultsTest, ANonDictionaryFileReadsAsEmpty) {
    auto array = platform::serializePropertyList(platform::PropertyArray{1, 2}, platform::PropertyListFormat::Xml);
    ASSERT_TRUE(array);
    writeFile(domainFile(), std::string(array->begin(), array->end()));
    EXPECT_TRUE(UserDefaults("Mossbridge", folder_).dictionaryRepresentation().empty());
}

TEST_F(UserDefaultsTest, ReadsAnXmlFileWrittenByHand) {
    writeFile(domainFile(),
              "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>MossbridgePerformanceLogs</key><true/>"
              "</dict></plist>");
    EXPECT_EQ(UserDefaults("Mossbridge", folder_).boolean("MossbridgePerformanceLogs"), true);
}

TEST_F(UserDefaultsTest, LeftoverTemporaryFileFromACrashIsIgnored) {
    {
        UserDefaults defaults("Mossbridge", folder_);
        ASSERT_TRUE(defaults.set("k", 1));
    }
    // A crash between writing the temporary file and renaming it leaves this.
    writeFile(folder_ / ".Mossbridge.plist.Ab12Cd", "bplist00 half written");
    UserDefaults reopened("Mossbridge", folder_);
    EXPECT_EQ(reopened.integer("k"), 1);
    ASSERT_TRUE(reopened.set("k", 2));
    EXPECT_EQ(UserDefaults("Mossbridge", folder_).integer("k"), 2);
}

TEST_F(UserDefaultsTest, FailedWriteKeepsThePreviousFileAndTheValueInMemory) {
    UserDefaults defaults("Mossbridge", folder_);
    ASSERT_TRUE(defaults.set("first", 1));
    const auto before = fs::file_size(domainFile());

    // A full disk, simulated: no file may grow past a few bytes. The process
    // limit applies to every user, root included.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* previousHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit tiny = saved;
    tiny.rlim_cur = 16;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tiny), 0);
    const bool written = defaults.set("second", "a value long enough to need more than sixteen bytes");
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(defaults.string("second"), "a value long enough to need more than sixteen bytes");
    EXPECT_EQ(fs::file_size(domainFile()), before);
    EXPECT_EQ(UserDefaults("Mossbridge", folder_).dictionaryRepresentation(), (PropertyDictionary{{"first", 1}}));
    EXPECT_TRUE(strayFiles().empty());

    // The value kept in memory goes out with the next successful write.
    ASSERT_TRUE(defaults.set("third", 3));
    EXPECT_EQ(UserDefaults("Mossbridge", folder_).dictionaryRepresentation().size(), 3u);
}

TEST_F(UserDefaultsTest, RenameThatCannotHappenAnswersFalseAndLeavesNoTemporaryFile) {
    // A non-empty folder where the domain file belongs cannot be renamed over.
    writeFile(domainFile() / "occupant", "x");
    UserDefaults defaults("Mossbridge", folder_);
    EXPECT_FALSE(defaults.set("k", 1));
    EXPECT_EQ(defaults.integer("k"), 1);
    EXPECT_TRUE(strayFiles().empty());
    EXPECT_FALSE(defaults.remove("k"));
    EXPECT_FALSE(defaults.object("k"));
}

TEST_F(UserDefaultsTest, ReadOnlyFolderKeepsThePreviousFile) {
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    UserDefaults defaults("Mossbridge", folder_);
    ASSERT_TRUE(defaults.set("first", 1));
    fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(defaults.set("second", 2));
    fs::permissions(folder_, fs::perms::owner_all);
    EXPECT_EQ(defaults.integer("second"), 2);
    EXPECT_EQ(UserDefaults("Mossbridge", folder_).dictionaryRepresentation(), (PropertyDictionary{{"first", 1}}));
}

TEST_F(UserDefaultsTest, RefusesAValueNoPropertyListCanHoldAndKeepsWorking) {
    UserDefaults defaults("Mossbridge", folder_);
    ASSERT_TRUE(defaults.set("k", "old"));
    EXPECT_FALSE(defaults.set("k", std::string("a\0b", 3)));
    EXPECT_FALSE(defaults.set("bad", "\xFF"));
    EXPECT_EQ(defaults.string("k"), "old");
    EXPECT_FALSE(defaults.object("bad"));
    ASSERT_TRUE(defaults.set("next", 2));
    EXPECT_EQ(UserDefaults("Mossbridge", folder_).dictionaryRepresentation(),
              (PropertyDictionary{{"k", "old"}, {"next", 2}}));
}

TEST_F(UserDefaultsTest, ConcurrentSetsFromManyThreadsAllReachTheFile) {
    UserDefaults defaults("Mossbridge", folder_);
    const int threads = 8, keysPerThread = 10;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&defaults, t] {
            for (int k = 0; k < keysPerThread; ++k) {
                EXPECT_TRUE(defaults.set("key." + std::to_string(t) + "." + std::to_string(k), t * 1000 + k));
                (void)defaults.dictionaryRepresentation();
            }
        });
    }
    for (auto& worker : workers) worker.join();

    const auto stored = UserDefaults("Mossbridge", folder_).dictionaryRepresentation();
    ASSERT_EQ(stored.size(), static_cast<std::size_t>(threads * keysPerThread));
    for (int t = 0; t < threads; ++t) {
        for (int k = 0; k < keysPerThread; ++k) {
            auto it = stored.find("key." + std::to_string(t) + "." + std::to_string(k));
            ASSERT_NE(it, stored.end());
            EXPECT_EQ(it->second.asInteger(), t * 1000 + k);
        }
    }
    EXPECT_TRUE(strayFiles().empty());
}

TEST_F(UserDefaultsTest, RefusesDomainsThatAreNotPlainFileNames) {
    for (const char* name : {"", ".", "..", "../escape", "a/b"}) {
        EXPECT_THROW(UserDefaults(name, folder_), std::invalid_argument) << name;
        EXPECT_THROW(UserDefaults::suite(name), std::invalid_argument) << name;
    }
}

// The shared instances live in the config folder of the environment.
class UserDefaultsShared : public UserDefaultsTest {
protected:
    void SetUp() override {
        UserDefaultsTest::SetUp();
        if (const char* value = std::getenv("XDG_CONFIG_HOME")) savedConfigHome_ = value;
        setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
        UserDefaults::resetSharedInstancesForTesting();
    }
    void TearDown() override {
        UserDefaults::resetSharedInstancesForTesting();
        if (savedConfigHome_) {
            setenv("XDG_CONFIG_HOME", savedConfigHome_->c_str(), 1);
        } else {
            unsetenv("XDG_CONFIG_HOME");
        }
        UserDefaultsTest::TearDown();
    }
    std::optional<std::string> savedConfigHome_;
};

TEST_F(UserDefaultsShared, StandardAndSuitesAreOneInstanceEach) {
    auto standard = UserDefaults::standard();
    EXPECT_EQ(standard, UserDefaults::standard());
    EXPECT_EQ(standard->domain(), "Mossbridge");
    EXPECT_EQ(standard->filePath(), root_ / "Mossbridge" / "Mossbridge.plist");

    auto suite = UserDefaults::suite("group.example");
    EXPECT_EQ(suite, UserDefaults::suite("group.example"));
    EXPECT_NE(suite, standard);
    EXPECT_NE(suite, UserDefaults::suite("other"));
    // Two instances on one file would overwrite each other's changes.
    EXPECT_EQ(UserDefaults::suite("Mossbridge"), standard);
}

TEST_F(UserDefaultsShared, ResetHookRereadsFromTheFolder) {
    auto first = UserDefaults::standard();
    ASSERT_TRUE(first->set("k", "v"));
    UserDefaults::resetSharedInstancesForTesting();
    auto second = UserDefaults::standard();
    EXPECT_NE(first, second);
    EXPECT_EQ(second->string("k"), "v");
}

}  // namespace
