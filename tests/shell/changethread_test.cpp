// Events and waits, change notifications over inotify, the change thread with
// a recording poster, and the device-change relay on the class library's
// message loop.
#include "shell_env.h"

#include "shell/ptshchange.h"
#include "shell/shlmounts.h"
#include "shell/shlnotify.h"

#include "vcl/forms.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <dirent.h>
#include <filesystem>
#include <mutex>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

int OpenFdCount()
{
    int n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

class RecordingPoster final : public IPTMessagePoster {
public:
    bool Post(HWND window, UINT message, WPARAM wParam, LPARAM) override
    {
        std::lock_guard lock(mutex);
        posts.push_back({window, message, static_cast<int>(wParam)});
        changed.notify_all();
        return true;
    }
    // Waits until a post for the slot arrives.
    bool WaitForSlot(int slot, std::chrono::milliseconds timeout = 3000ms)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, [&] {
            for (const auto& p : posts)
                if (p.slot == slot)
                    return true;
            return false;
        });
    }
    void Clear()
    {
        std::lock_guard lock(mutex);
        posts.clear();
    }
    size_t Count()
    {
        std::lock_guard lock(mutex);
        return posts.size();
    }
    struct Post_ {
        HWND window;
        UINT message;
        int slot;
    };
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Post_> posts;
};

constexpr HWND kWindow = 0x4242;
constexpr DWORD kNames = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME;

TEST(Waits, EventsAndTimeouts)
{
    const int handlesBefore = ShellOpenWaitHandleCount();
    HANDLE autoReset = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE manual = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    ASSERT_NE(autoReset, nullptr);
    HANDLE both[2] = {autoReset, manual};
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);  // a manual event stays set
    ResetEvent(manual);
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 20), WAIT_TIMEOUT);
    SetEvent(autoReset);
    EXPECT_EQ(WaitForSingleObject(autoReset, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(autoReset, 0), WAIT_TIMEOUT);  // the wait reset it
    std::thread setter([&] {
        std::this_thread::sleep_for(30ms);
        SetEvent(autoReset);
    });
    EXPECT_EQ(WaitForSingleObject(autoReset, 5000), WAIT_OBJECT_0);
    setter.join();
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_FAILED);  // wait-all is not offered
    EXPECT_TRUE(CloseWaitableHandle(autoReset));
    EXPECT_TRUE(CloseWaitableHandle(manual));
    EXPECT_EQ(WaitForSingleObject(autoReset, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(ShellOpenWaitHandleCount(), handlesBefore);
}

TEST(ChangeNotification, FilterDeletionAndSubtree)
{
    TempDir dir;
    fs::create_directories(dir.Path("w/deep/er"));
    EXPECT_EQ(FindFirstChangeNotificationA("", FALSE, kNames), INVALID_HANDLE_VALUE);
    EXPECT_EQ(FindFirstChangeNotificationA(dir.Path("none").c_str(), FALSE, kNames), INVALID_HANDLE_VALUE);

    // A file-name filter ignores a new folder and sees a new file.
    HANDLE files = FindFirstChangeNotificationA(dir.Path("w").c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
    ASSERT_NE(files, INVALID_HANDLE_VALUE);
    fs::create_directories(dir.Path("w/newdir"));
    EXPECT_EQ(WaitForSingleObject(files, 100), WAIT_TIMEOUT);
    dir.Write("w/new.txt", "x");
    EXPECT_EQ(WaitForSingleObject(files, 3000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(files, 0), WAIT_OBJECT_0);  // signalled until re-armed
    EXPECT_TRUE(FindNextChangeNotification(files));
    EXPECT_EQ(WaitForSingleObject(files, 50), WAIT_TIMEOUT);

    // A subtree watch covers the folders below that have been loaded, also later ones.
    HANDLE tree = FindFirstChangeNotificationA(dir.Path("w").c_str(), TRUE, kNames);
    ASSERT_NE(tree, INVALID_HANDLE_VALUE);
    dir.Write("w/deep/er/unseen.txt", "x");
    EXPECT_EQ(WaitForSingleObject(tree, 100), WAIT_TIMEOUT);  // not loaded: not watched
    ShellNoteFolderLoaded(dir.Path("w/deep/er"));
    EXPECT_EQ(ShellChangeNotificationWatchCount(tree), 2);
    dir.Write("w/deep/er/seen.txt", "x");
    EXPECT_EQ(WaitForSingleObject(tree, 3000), WAIT_OBJECT_0);
    EXPECT_TRUE(FindNextChangeNotification(tree));

    // Two handles on one folder share the system's watch; closing one keeps the other.
    HANDLE second = FindFirstChangeNotificationA(dir.Path("w").c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(FindCloseChangeNotification(second));
    dir.Write("w/again.txt", "x");
    EXPECT_EQ(WaitForSingleObject(files, 3000), WAIT_OBJECT_0);
    EXPECT_TRUE(FindNextChangeNotification(files));

    // The watched folder is deleted: re-arming fails.
    fs::remove_all(dir.Path("w"));
    EXPECT_EQ(WaitForSingleObject(files, 3000), WAIT_OBJECT_0);
    EXPECT_FALSE(FindNextChangeNotification(files));
    EXPECT_TRUE(FindCloseChangeNotification(files));
    EXPECT_TRUE(FindCloseChangeNotification(tree));
    EXPECT_FALSE(FindCloseChangeNotification(tree));
}

TEST(ChangeThread, WatchesNotifiesAndRemoves)
{
    TempDir dir;
    fs::create_directories(dir.Path("a"));
    fs::create_directories(dir.Path("b"));
    const int fdsBefore = OpenFdCount();
    const int handlesBefore = ShellOpenWaitHandleCount();
    {
        RecordingPoster poster;
        TChangeHandlerThread thread(kWindow, AM_CHANGENOTIFY, &poster);
        int slot = -1;
        EXPECT_FALSE(thread.AddChangeNotification("", kNames, slot, false));
        EXPECT_FALSE(thread.AddChangeNotification(dir.Path("missing"), kNames, slot, false));
        int slotA = -1, slotB = -1;
        ASSERT_TRUE(thread.AddChangeNotification(dir.Path("a"), kNames, slotA, false));
        ASSERT_TRUE(thread.AddChangeNotification(dir.Path("b"), kNames, slotB, false));
        EXPECT_EQ(slotA, 0);
        EXPECT_EQ(slotB, 1);
        dir.Write("b/file", "x");
        ASSERT_TRUE(poster.WaitForSlot(slotB));
        {
            std::lock_guard lock(poster.mutex);
            EXPECT_EQ(poster.posts[0].window, kWindow);
            EXPECT_EQ(poster.posts[0].message, 1125u);
        }
        // A deleted folder stops being watched; its slot is free again.
        fs::remove_all(dir.Path("a"));
        ASSERT_TRUE(poster.WaitForSlot(slotA));
        fs::create_directories(dir.Path("c"));
        // The worker freed the slot right after posting, before it takes the next command.
        int slotC = -1;
        ASSERT_TRUE(thread.AddChangeNotification(dir.Path("c"), kNames, slotC, false));
        EXPECT_EQ(slotC, 0);

        ASSERT_TRUE(thread.RemoveAll());
        poster.Clear();
        dir.Write("b/other", "x");
        dir.Write("c/other", "x");
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(poster.Count(), 0u);
    }
    EXPECT_EQ(ShellOpenWaitHandleCount(), handlesBefore);
    EXPECT_EQ(OpenFdCount(), fdsBefore);
}

TEST(ChangeThread, SixtyThreeSlots)
{
    TempDir dir;
    const int fdsBefore = OpenFdCount();
    const int handlesBefore = ShellOpenWaitHandleCount();
    {
        RecordingPoster poster;
        TChangeHandlerThread thread(kWindow, AM_CHANGENOTIFY, &poster);
        for (int i = 0; i < 64; ++i)
            fs::create_directories(dir.Path("d" + std::to_string(i)));
        for (int i = 0; i < 63; ++i) {
            int slot = -1;
            ASSERT_TRUE(thread.AddChangeNotification(dir.Path("d" + std::to_string(i)), kNames, slot, false));
            EXPECT_EQ(slot, i);
        }
        int slot = 99;
        EXPECT_FALSE(thread.AddChangeNotification(dir.Path("d63"), kNames, slot, false));
        EXPECT_EQ(slot, -1);
        // The handle that found no slot was closed: only the 63 and the two events are open.
        EXPECT_EQ(ShellOpenWaitHandleCount(), handlesBefore + 63 + 2);
        // The earlier ones keep firing, the first and the last among them.
        dir.Write("d0/x", "x");
        dir.Write("d62/x", "x");
        EXPECT_TRUE(poster.WaitForSlot(0));
        EXPECT_TRUE(poster.WaitForSlot(62));
        // Destroying the thread while changes arrive.
        for (int i = 0; i < 63; ++i)
            dir.Write("d" + std::to_string(i) + "/y", "y");
    }
    EXPECT_EQ(ShellOpenWaitHandleCount(), handlesBefore);
    EXPECT_EQ(OpenFdCount(), fdsBefore);
}

// A poster whose first post hangs until released: the worker is stuck there.
class BlockingPoster final : public IPTMessagePoster {
public:
    bool Post(HWND, UINT, WPARAM, LPARAM) override
    {
        std::unique_lock lock(mutex);
        entered = true;
        changed.notify_all();
        changed.wait(lock, [&] { return released; });
        return true;
    }
    void WaitEntered()
    {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, 3s, [&] { return entered; });
    }
    void Release()
    {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false, released = false;
};

TEST(ChangeThread, ReplyTimeOutWithdrawsTheCommand)
{
    TempDir dir;
    for (const char* d : {"a", "b", "c"})
        fs::create_directories(dir.Path(d));
    const int handlesBefore = ShellOpenWaitHandleCount();
    {
        BlockingPoster poster;
        TChangeHandlerThread thread(kWindow, AM_CHANGENOTIFY, &poster);
        int slot = -1;
        ASSERT_TRUE(thread.AddChangeNotification(dir.Path("a"), kNames, slot, false));
        dir.Write("a/x", "x");
        poster.WaitEntered();
        // The worker does not answer: the add gives up and its handle is closed.
        EXPECT_FALSE(thread.AddChangeNotification(dir.Path("b"), kNames, slot, false));
        EXPECT_EQ(slot, -1);
        EXPECT_EQ(ShellOpenWaitHandleCount(), handlesBefore + 2 + 1);
        poster.Release();
        // The withdrawn command is not run late: the next add takes the next free slot.
        ASSERT_TRUE(thread.AddChangeNotification(dir.Path("c"), kNames, slot, false));
        EXPECT_EQ(slot, 1);
        EXPECT_EQ(ShellOpenWaitHandleCount(), handlesBefore + 2 + 2);
    }
    EXPECT_EQ(ShellOpenWaitHandleCount(), handlesBefore);
}

// ---- device changes ----

class DeviceRelayTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        EnsureQtApplication();
        if (!Application)
            s_app = new TApplication;
    }
    static void TearDownTestSuite()
    {
        PTFreeDeviceChangeHandler();
        delete s_app;
        s_app = nullptr;
    }
public:
    void Pump()
    {
        for (int i = 0; i < 5; ++i)
            Application->ProcessMessages();
    }
    void OnDevice(TPTDeviceChangeHandler* sender, TMessage& m)
    {
        EXPECT_EQ(sender, PTDeviceChangeHandler());
        seen.push_back({"first", m.WParam});
    }
    void OnDeviceSecond(TPTDeviceChangeHandler*, TMessage& m) { seen.push_back({"second", m.WParam}); }
    void OnDeviceThrows(TPTDeviceChangeHandler*, TMessage&) { throw Exception("broken handler"); }

    std::vector<std::pair<std::string, WPARAM>> seen;
    static TApplication* s_app;
};
TApplication* DeviceRelayTest::s_app = nullptr;

class RecordingPrompts final : public TPromptService {
public:
    int MessageBox(const std::string& text, const std::string&, UINT) override
    {
        shown.push_back(text);
        return 1;
    }
    bool InputQuery(const std::string&, const std::string&, std::string&) override { return false; }
    bool SelectDirectory(const std::string&, const std::string&, std::string&) override { return false; }
    bool OpenFiles(const TFileDialogRequest&, std::vector<std::string>&) override { return false; }
    bool SaveFile(const TFileDialogRequest&, std::string&, int&) override { return false; }
    bool ChooseFont(TFont&) override { return false; }
    std::vector<std::string> shown;
};

TEST_F(DeviceRelayTest, RelaysEveryChangeToEachRegistrationInOrder)
{
    TPTDeviceChangeHandler* relay = PTDeviceChangeHandler();
    const auto first = PTDeviceChangeMethod<DeviceRelayTest, &DeviceRelayTest::OnDevice>(this);
    const auto second = PTDeviceChangeMethod<DeviceRelayTest, &DeviceRelayTest::OnDeviceSecond>(this);
    relay->Add(first);
    relay->Add(second);
    relay->Add(first);  // twice: runs twice
    PostMessage(relay->Handle(), WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0);
    Pump();
    using Seen = std::vector<std::pair<std::string, WPARAM>>;
    EXPECT_EQ(seen, (Seen{{"first", DBT_DEVICEARRIVAL}, {"second", DBT_DEVICEARRIVAL}, {"first", DBT_DEVICEARRIVAL}}));

    seen.clear();
    relay->Remove(first);  // one registration per call
    PostMessage(relay->Handle(), WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, 0);
    Pump();
    EXPECT_EQ(seen, (Seen{{"second", DBT_DEVICEREMOVECOMPLETE}, {"first", DBT_DEVICEREMOVECOMPLETE}}));

    // A method that raises is reported and the next one still runs.
    seen.clear();
    auto prompts = std::make_unique<RecordingPrompts>();
    RecordingPrompts* recorded = prompts.get();
    auto previous = Application->SetPrompts(std::move(prompts));
    relay->Remove(second);
    relay->Remove(first);
    const auto throws = PTDeviceChangeMethod<DeviceRelayTest, &DeviceRelayTest::OnDeviceThrows>(this);
    relay->Add(throws);
    relay->Add(second);
    PostMessage(relay->Handle(), WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0);
    Pump();
    EXPECT_EQ(seen, (Seen{{"second", DBT_DEVICEARRIVAL}}));
    ASSERT_EQ(recorded->shown.size(), 1u);
    EXPECT_EQ(recorded->shown[0], "broken handler.");
    Application->SetPrompts(std::move(previous));
    relay->Remove(throws);
    relay->Remove(second);
    EXPECT_EQ(relay->Count(), 0);
}

TEST_F(DeviceRelayTest, ChangeThreadPostsToARealWindow)
{
    TempDir dir;
    std::vector<TMessage> received;
    const HWND window = AllocateHWnd([&](TMessage& m) { received.push_back(m); });
    {
        TChangeHandlerThread thread(window, AM_CHANGENOTIFY);
        int slot = -1;
        ASSERT_TRUE(thread.AddChangeNotification(dir.Path(""), kNames, slot, false));
        dir.Write("new.txt", "x");
        for (int i = 0; i < 300 && received.empty(); ++i) {
            Pump();
            std::this_thread::sleep_for(10ms);
        }
    }
    DeallocateHWnd(window);
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received[0].Msg, 1125u);
    EXPECT_EQ(received[0].WParam, 0u);
    EXPECT_EQ(received[0].LParam, 0);
}

TEST_F(DeviceRelayTest, MountTableChangesArriveAsDeviceChanges)
{
    TempDir dir;
    const std::string table = "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n";
    const std::string usb = "40 22 8:17 / /media/usb rw - vfat /dev/sdb1 rw\n";
    dir.Write("mountinfo", table);
    ShellSetMountInfoPathForTest(dir.Path("mountinfo"));
    TPTDeviceChangeHandler* relay = PTDeviceChangeHandler();
    const auto first = PTDeviceChangeMethod<DeviceRelayTest, &DeviceRelayTest::OnDevice>(this);
    relay->Add(first);
    ShellRescanDrives();  // the table as the relay's monitor knows it
    Pump();
    seen.clear();

    dir.Write("mountinfo", table + usb);
    ShellRescanDrives();
    Pump();
    dir.Write("mountinfo", table);
    ShellRescanDrives();
    Pump();
    using Seen = std::vector<std::pair<std::string, WPARAM>>;
    EXPECT_EQ(seen, (Seen{{"first", DBT_DEVICEARRIVAL}, {"first", DBT_DEVICEREMOVECOMPLETE}}));
    relay->Remove(first);
    ShellSetMountInfoPathForTest("");
    ShellRescanDrives();
}

} // namespace
