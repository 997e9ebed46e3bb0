// The directory walk shared by the count and the copy: iterative, pre-order, depth-first, over
// one heap block of WalkFrame records that the dialog owns. The count and the copy add their own
// steps through a hooks object:
//   bool Root(WalkFrame& root)        fills what else frame 0 needs; false fails the walk
//   bool Pass()                       runs at the start of every pass; false fails the walk
//   bool Overlong(LPCWSTR dir, LPCWSTR name)   dir + name would not fit its buffer: true skips it
//   bool Unreadable()                 a folder that exists cannot be listed: true skips it
//   void Met(const WalkFrame& top, int depth, LPCWSTR name)   a fresh entry that the walk takes
//   void SkippedDot(const WalkFrame& top, LPCWSTR name)         a folder left out by the dot rule
//   bool EnterDir(WalkFrame* frames, int depth, LPCWSTR name)   the new frame's own steps
//   bool File(const WalkFrame& top, LPCWSTR name)               a fresh file
// A failing walk has ended every enumeration it opened.
#pragma once

#include "install/entry_id.h"
#include "install/walk_frame.h"
#include "platform/kernel/files.h"
#include "platform/kernel/strings.h"

namespace install {

// Each level adds at least a one-unit name and a backslash to a 260-unit path.
inline constexpr int kMaxWalkDepth = MAX_PATH / 2;

// Resizes the block to exactly nFrames frames and stores the (possibly moved) block in rpStack;
// a null block is allocated afresh. False when memory is exhausted: rpStack is kept as it was.
bool ResizeWalkStack(WalkFrame*& rpStack, int nFrames);

// dir + name + tail into a MAX_PATH buffer. False, with dest left empty, when it would not fit.
bool ComposePath(WCHAR* dest, LPCWSTR dir, LPCWSTR name, LPCWSTR tail = u"");

// Whether anything exists at an exact path, tested as the device does: an enumeration of it.
bool EntryExists(LPCWSTR pszPath);

template <class Hooks>
class Walk {
  public:
    Walk(WalkFrame*& rpStack, Hooks& hooks) : m_rpStack(rpStack), m_hooks(hooks) {}

    // True when the whole tree was walked (or had nothing to walk), false when it failed.
    bool Run(LPCWSTR pszSrcRoot) {
        if (!ResizeWalkStack(m_rpStack, 1)) return false;
        m_depth = 0;
        if (FAILED(StringCchCopyW(m_rpStack[0].szSrcDir, MAX_PATH, pszSrcRoot))) {
            m_depth = -1;
            return m_hooks.Overlong(pszSrcRoot, u"");
        }
        if (!m_hooks.Root(m_rpStack[0])) return false;
        switch (OpenTop()) {
            case Open::Overlong:
                m_depth = -1;
                return m_hooks.Overlong(pszSrcRoot, u"*.*");
            case Open::Nothing:
                m_depth = -1;
                return true;
            case Open::Unreadable:
                m_depth = -1;
                return m_hooks.Unreadable();
            case Open::Opened:
                break;
        }
        while (m_depth >= 0) {
            if (!m_hooks.Pass()) return Fail(m_depth);
            if (!OnePass()) return false;
        }
        return true;
    }

  private:
    enum class Open { Opened, Nothing, Overlong, Unreadable };

    bool OnePass() {
        if (m_bFresh && (m_entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            if (m_entry.cFileName[0] != u'.') {
                m_hooks.Met(m_rpStack[m_depth], m_depth, m_entry.cFileName);
                return Descend();
            }
            if (lstrcmpW(m_entry.cFileName, u".") != 0 && lstrcmpW(m_entry.cFileName, u"..") != 0)
                m_hooks.SkippedDot(m_rpStack[m_depth], m_entry.cFileName);
        } else if (m_bFresh) {
            m_hooks.Met(m_rpStack[m_depth], m_depth, m_entry.cFileName);
            if (!m_hooks.File(m_rpStack[m_depth], m_entry.cFileName)) return Fail(m_depth);
        }
        Advance();
        return true;
    }

    bool Descend() {
        // Room for the name, its backslash and the pattern, checked before the block grows.
        const int nNeeded = lstrlenW(m_rpStack[m_depth].szSrcDir) + lstrlenW(m_entry.cFileName) + 4;
        if (nNeeded >= MAX_PATH || m_depth + 1 > kMaxWalkDepth) {
            if (!m_hooks.Overlong(m_rpStack[m_depth].szSrcDir, m_entry.cFileName))
                return Fail(m_depth);
            Advance();
            return true;
        }
        ++m_depth;
        if (!ResizeWalkStack(m_rpStack, m_depth + 1)) return Fail(m_depth - 1);
        WalkFrame* frames = m_rpStack;
        ComposePath(frames[m_depth].szSrcDir, frames[m_depth - 1].szSrcDir, m_entry.cFileName,
                    u"\\");
        if (!m_hooks.EnterDir(frames, m_depth, m_entry.cFileName)) return Fail(m_depth - 1);
        const Open opened = OpenTop();
        if (opened == Open::Unreadable && !m_hooks.Unreadable()) return Fail(m_depth - 1);
        if (opened != Open::Opened) {
            --m_depth;
            m_bFresh = false;
        }
        return true;
    }

    // Starts the top frame's enumeration. A folder already open higher up (reached again through
    // a link) is not entered twice, so a link back to an ancestor cannot make the walk endless.
    Open OpenTop() {
        WalkFrame& top = m_rpStack[m_depth];
        WCHAR szPattern[MAX_PATH];
        if (!ComposePath(szPattern, top.szSrcDir, u"*.*")) return Open::Overlong;
        m_ids[m_depth] = EntryIdOf(top.szSrcDir);
        for (int k = 0; k < m_depth; ++k)
            if (m_ids[k] == m_ids[m_depth]) return Open::Nothing;
        HANDLE hEnum = FindFirstFileW(szPattern, &m_entry);
        if (hEnum == INVALID_HANDLE_VALUE)
            return Absent(GetLastError()) ? Open::Nothing : Open::Unreadable;
        top.hEnum = hEnum;
        m_bFresh = true;
        return Open::Opened;
    }

    void Advance() {
        WalkFrame& top = m_rpStack[m_depth];
        if (FindNextFileW(top.hEnum, &m_entry)) {
            m_bFresh = true;
            return;
        }
        FindClose(top.hEnum);
        --m_depth;
        m_bFresh = false;
    }

    // Only an empty folder, or one that is gone or no folder, has nothing to walk; any other
    // failure to list it (no permission, an I/O error) is no reason to leave it out unnoticed.
    static bool Absent(DWORD dwError) {
        return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND ||
               dwError == ERROR_NO_MORE_FILES;
    }

    // Ends the enumerations of frames 0 to nTop, the root's first.
    bool Fail(int nTop) {
        for (int k = 0; k <= nTop; ++k) FindClose(m_rpStack[k].hEnum);
        m_depth = -1;
        return false;
    }

    WalkFrame*& m_rpStack;
    Hooks& m_hooks;
    int m_depth = -1;
    bool m_bFresh = false;
    WIN32_FIND_DATAW m_entry{};
    EntryId m_ids[kMaxWalkDepth + 1];
};

}  // namespace install
