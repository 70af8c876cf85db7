// Buffered streams over a replaceable operation table.
//
// A stream reads ahead into its buffer and collects writes in it; the
// buffer is emptied (written, or dropped and the object moved back to the
// caller's position) before every seek and before the direction changes,
// so the object's own position is always where the caller thinks.
#include "jpeg2000/jasper.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

namespace {

struct FdObject {
    int fd;
};

int FdRead(jas_stream_obj_t* obj, char* buf, int cnt)
{
    const int fd = static_cast<FdObject*>(obj)->fd;
    ssize_t n;
    do {
        n = ::read(fd, buf, static_cast<std::size_t>(cnt));
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<int>(n);
}

int FdWrite(jas_stream_obj_t* obj, char* buf, int cnt)
{
    const int fd = static_cast<FdObject*>(obj)->fd;
    int done = 0;
    while (done < cnt) {
        const ssize_t n = ::write(fd, buf + done, static_cast<std::size_t>(cnt - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return done > 0 ? done : -1;
        done += static_cast<int>(n);
    }
    return done;
}

long FdSeek(jas_stream_obj_t* obj, long offset, int origin)
{
    return static_cast<long>(::lseek(static_cast<FdObject*>(obj)->fd, offset, origin));
}

// The descriptor belongs to whoever opened it.
int FdClose(jas_stream_obj_t* obj)
{
    jas_free(obj);
    return 0;
}

const jas_stream_ops_t kFdOps = {FdRead, FdWrite, FdSeek, FdClose};

// Writes the pending bytes; false on a short write.
bool FlushWrites(jas_stream_t* s)
{
    if (!s->writing_)
        return true;
    std::size_t done = 0;
    while (done < s->cnt_) {
        const int n = s->ops_->write_(s->obj_, reinterpret_cast<char*>(s->bufbase_ + done),
                                      static_cast<int>(s->cnt_ - done));
        if (n <= 0) {
            s->flags_ |= JAS_STREAM_ERR;
            s->cnt_ = 0;
            s->writing_ = false;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    s->cnt_ = 0;
    s->writing_ = false;
    return true;
}

// Drops read-ahead bytes, moving the object back to the caller's position.
bool DropReadAhead(jas_stream_t* s)
{
    if (s->writing_ || s->ptr_ == s->cnt_) {
        if (!s->writing_)
            s->ptr_ = s->cnt_ = 0;
        return true;
    }
    const long back = static_cast<long>(s->cnt_ - s->ptr_);
    s->ptr_ = s->cnt_ = 0;
    return s->ops_->seek_(s->obj_, -back, SEEK_CUR) >= 0;
}

}  // namespace

void* jas_malloc(std::size_t size) { return std::malloc(size ? size : 1); }

void jas_free(void* ptr) { std::free(ptr); }

jas_stream_t* jas_stream_fdopen(int fd, const char* mode)
{
    if (fd < 0 || !mode)
        return nullptr;
    int openmode = 0;
    for (const char* p = mode; *p; ++p) {
        if (*p == 'r')
            openmode |= JAS_STREAM_READ;
        else if (*p == 'w' || *p == 'a')
            openmode |= JAS_STREAM_WRITE;
        else if (*p == '+')
            openmode |= JAS_STREAM_READ | JAS_STREAM_WRITE;
    }
    if (!openmode)
        return nullptr;
    auto* obj = static_cast<FdObject*>(jas_malloc(sizeof(FdObject)));
    auto* buf = static_cast<unsigned char*>(jas_malloc(JAS_STREAM_BUFSIZE));
    auto* s = static_cast<jas_stream_t*>(jas_malloc(sizeof(jas_stream_t)));
    if (!obj || !buf || !s) {
        jas_free(obj);
        jas_free(buf);
        jas_free(s);
        return nullptr;
    }
    obj->fd = fd;
    std::memset(s, 0, sizeof *s);
    s->openmode_ = openmode;
    s->bufbase_ = buf;
    s->bufsize_ = JAS_STREAM_BUFSIZE;
    s->ops_ = &kFdOps;
    s->obj_ = obj;
    return s;
}

int jas_stream_flush(jas_stream_t* stream)
{
    if (!stream)
        return -1;
    return FlushWrites(stream) ? 0 : -1;
}

int jas_stream_close(jas_stream_t* stream)
{
    if (!stream)
        return -1;
    const bool flushed = FlushWrites(stream);
    stream->ops_->close_(stream->obj_);
    jas_free(stream->bufbase_);
    jas_free(stream);
    return flushed ? 0 : -1;
}

int jas_stream_read(jas_stream_t* stream, void* buf, int cnt)
{
    if (!stream || !buf || cnt <= 0 || !(stream->openmode_ & JAS_STREAM_READ))
        return 0;
    if (!FlushWrites(stream))
        return 0;
    auto* out = static_cast<unsigned char*>(buf);
    int done = 0;
    while (done < cnt) {
        if (stream->ptr_ < stream->cnt_) {
            const std::size_t n = std::min<std::size_t>(stream->cnt_ - stream->ptr_, static_cast<std::size_t>(cnt - done));
            std::memcpy(out + done, stream->bufbase_ + stream->ptr_, n);
            stream->ptr_ += n;
            done += static_cast<int>(n);
            continue;
        }
        if (stream->flags_ & (JAS_STREAM_EOF | JAS_STREAM_ERR))
            break;
        const int want = cnt - done;
        // Large reads go straight to the caller's buffer.
        if (static_cast<std::size_t>(want) >= stream->bufsize_) {
            const int n = stream->ops_->read_(stream->obj_, reinterpret_cast<char*>(out + done), want);
            if (n <= 0) {
                stream->flags_ |= n < 0 ? JAS_STREAM_ERR : JAS_STREAM_EOF;
                break;
            }
            done += n;
            continue;
        }
        const int n = stream->ops_->read_(stream->obj_, reinterpret_cast<char*>(stream->bufbase_),
                                          static_cast<int>(stream->bufsize_));
        if (n <= 0) {
            stream->flags_ |= n < 0 ? JAS_STREAM_ERR : JAS_STREAM_EOF;
            break;
        }
        stream->ptr_ = 0;
        stream->cnt_ = static_cast<std::size_t>(n);
    }
    return done;
}

int jas_stream_getc(jas_stream_t* stream)
{
    if (stream && stream->ptr_ < stream->cnt_ && !stream->writing_)
        return stream->bufbase_[stream->ptr_++];
    unsigned char c;
    return jas_stream_read(stream, &c, 1) == 1 ? c : -1;
}

int jas_stream_write(jas_stream_t* stream, const void* buf, int cnt)
{
    if (!stream || !buf || cnt <= 0 || !(stream->openmode_ & JAS_STREAM_WRITE))
        return 0;
    if (!stream->writing_ && !DropReadAhead(stream))
        return 0;
    const auto* in = static_cast<const unsigned char*>(buf);
    int done = 0;
    while (done < cnt) {
        if (stream->cnt_ == stream->bufsize_ && !FlushWrites(stream))
            return done;
        const std::size_t n = std::min<std::size_t>(stream->bufsize_ - stream->cnt_, static_cast<std::size_t>(cnt - done));
        std::memcpy(stream->bufbase_ + stream->cnt_, in + done, n);
        stream->cnt_ += n;
        stream->writing_ = true;
        done += static_cast<int>(n);
    }
    return done;
}

int jas_stream_putc(jas_stream_t* stream, int c)
{
    const unsigned char b = static_cast<unsigned char>(c);
    return jas_stream_write(stream, &b, 1) == 1 ? b : -1;
}

long jas_stream_tell(jas_stream_t* stream)
{
    if (!stream)
        return -1;
    const long real = stream->ops_->seek_(stream->obj_, 0, SEEK_CUR);
    if (real < 0)
        return -1;
    if (stream->writing_)
        return real + static_cast<long>(stream->cnt_);
    return real - static_cast<long>(stream->cnt_ - stream->ptr_);
}

long jas_stream_seek(jas_stream_t* stream, long offset, int origin)
{
    if (!stream || origin < SEEK_SET || origin > SEEK_END)
        return -1;
    if (origin == SEEK_CUR) {
        const long here = jas_stream_tell(stream);
        if (here < 0)
            return -1;
        offset += here;
        origin = SEEK_SET;
    }
    if (!FlushWrites(stream))
        return -1;
    stream->ptr_ = stream->cnt_ = 0;
    stream->flags_ &= ~JAS_STREAM_EOF;
    return stream->ops_->seek_(stream->obj_, offset, origin);
}

long jas_stream_length(jas_stream_t* stream)
{
    const long here = jas_stream_tell(stream);
    if (here < 0)
        return -1;
    const long end = jas_stream_seek(stream, 0, SEEK_END);
    if (jas_stream_seek(stream, here, SEEK_SET) != here)
        return -1;
    return end;
}
