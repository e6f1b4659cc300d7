/*
 * Fills a fresh mkntfs volume for the benchmarks through libntfs-3g.
 *
 *   ntfs-bench-volume files IMAGE FILES FOLDERS [MAXSIZE]
 *       FILES files spread over FOLDERS folders under the root, sizes from
 *       0 to MAXSIZE bytes (16 KiB unless given; small ones stay resident in
 *       their records), every fourth file deleted afterwards.
 *   ntfs-bench-volume compressed IMAGE MIB
 *       one file of MIB MiB of text-like data in a compressed folder
 *       (LZNT1, one compression unit of 16 clusters at a time). Prints
 *       "record size bytes-per-cluster" and then one "lcn length" line per
 *       run of its data (lcn 0 for a sparse run) on standard output.
 *
 * Contents come from a fixed generator, so the images are the same on
 * every run of the suite.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <ntfs-3g/types.h>
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/layout.h>
#include <ntfs-3g/runlist.h>
#include <ntfs-3g/security.h>
#include <ntfs-3g/volume.h>

#include "../tests/fixtures/content-hash.h"

static ntfs_volume *vol;

static void die(const char *what) {
    fprintf(stderr, "ntfs-bench-volume: %s (%s)\n", what, strerror(errno));
    exit(1);
}

static uint32_t mix(uint32_t seed, uint32_t n) { return vt_content_word(seed, n); }

/* Lines of words picked by the generator: compresses to about a third with
 * LZNT1, like ordinary documents, not to nothing like zeros. */
static void fill_text(unsigned char *out, size_t len, uint32_t seed, uint64_t at) {
    static const char *words[] = {"sector", "cluster", "volume", "record", "folder", "deleted",
                                  "file",   "entry",   "table",  "run",    "name",   "size",
                                  "data",   "index",   "stream", "boot",   "chain",  "free"};
    size_t i = 0;
    uint64_t k = at / 64;
    while (i < len) {
        char line[80];
        int n = 0;
        for (int w = 0; w < 8 && n < 60; w++)
            n += snprintf(line + n, sizeof line - n, "%s ", words[mix(seed, (uint32_t)(k * 8 + w)) % 18]);
        n += snprintf(line + n, sizeof line - n, "%08x", mix(seed + 1, (uint32_t)k));
        while (n < 63) line[n++] = '.';
        line[63] = '\n';
        size_t off = (size_t)((at + i) % 64);
        size_t take = 64 - off < len - i ? 64 - off : len - i;
        memcpy(out + i, line + off, take);
        i += take;
        k++;
    }
}

static int to_utf16(const char *s, ntfschar *out) {
    int n = 0;
    for (; *s; s++) out[n++] = cpu_to_le16((unsigned char)*s);
    return n;
}

static ntfs_inode *create(ntfs_inode *dir, const char *name, mode_t type) {
    ntfschar u[256];
    int n = to_utf16(name, u);
    ntfs_inode *ni = ntfs_create(dir, 0, u, (u8)n, type);
    if (!ni) die(name);
    return ni;
}

static void write_data(ntfs_inode *ni, const unsigned char *buf, s64 len) {
    ntfs_attr *na = ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0);
    if (!na) die("data attribute");
    s64 done = 0;
    while (done < len) {
        s64 n = ntfs_attr_pwrite(na, done, len - done, buf + done);
        if (n <= 0) die("write");
        done += n;
    }
    if (ntfs_attr_pclose(na)) die("pclose");
    ntfs_attr_close(na);
}

static void make_files(int files, int folders, uint32_t max_size) {
    unsigned char *buf = malloc(max_size + 1);
    for (int d = 0; d < folders; d++) {
        char path[96], name[64];
        snprintf(name, sizeof name, "Folder %03d", d);
        snprintf(path, sizeof path, "/%s", name);
        /* No inode stays open across the steps: a second open copy of one
         * inode lets the library's inode cache hand out a stale one. The
         * folder closes before the new inode, whose closing updates its
         * entry in the folder's index. */
        ntfs_inode *root = ntfs_inode_open(vol, FILE_root);
        if (!root) die("root");
        ntfs_inode *made = create(root, name, S_IFDIR);
        if (ntfs_inode_close(root) || ntfs_inode_close(made)) die("close folder");
        int first = (int)((int64_t)files * d / folders), last = (int)((int64_t)files * (d + 1) / folders);
        for (int f = first; f < last; f++) {
            ntfs_inode *dir = ntfs_pathname_to_inode(vol, NULL, path);
            if (!dir) die(path);
            snprintf(name, sizeof name, "Document %05d.txt", f);
            ntfs_inode *ni = create(dir, name, S_IFREG);
            s64 size = mix(7, (uint32_t)f) % (max_size + 1);
            fill_text(buf, (size_t)size, (uint32_t)f, 0);
            write_data(ni, buf, size);
            if (ntfs_inode_close(dir)) die("close folder");
            if (ntfs_inode_close(ni)) die("close");
        }
    }
    /* Deleted last, each through freshly opened inodes: ntfs_delete closes
     * both the file and its folder. */
    int d = 0; /* the folder of file f: never goes back as f grows */
    for (int f = 3; f < files; f += 4) {
        char path[96], name[64];
        while ((int64_t)files * (d + 1) / folders <= f) d++;
        snprintf(path, sizeof path, "/Folder %03d", d);
        snprintf(name, sizeof name, "Document %05d.txt", f);
        ntfs_inode *dir = ntfs_pathname_to_inode(vol, NULL, path);
        if (!dir) die(path);
        u64 mref = ntfs_inode_lookup_by_mbsname(dir, name);
        if (mref == (u64)-1) die(name);
        ntfs_inode *ni = ntfs_inode_open(vol, MREF(mref));
        if (!ni) die(name);
        ntfschar u[256];
        int n = to_utf16(name, u);
        if (ntfs_delete(vol, NULL, ni, dir, u, (u8)n)) die("delete");
    }
    free(buf);
}

static void make_compressed(s64 mib) {
    ntfs_inode *root = ntfs_inode_open(vol, FILE_root);
    if (!root) die("root");
    ntfs_inode *dir = create(root, "Packed", S_IFDIR);
    le32 attr = FILE_ATTR_COMPRESSED;
    if (ntfs_set_ntfs_attrib(dir, (const char *)&attr, sizeof attr, 0)) die("compress folder");
    ntfs_inode *ni = create(dir, "archive.log", S_IFREG);
    u64 record = ni->mft_no;
    /* Thousands of runs need an attribute list. Made now, while the record
     * has room, it stays in the base record beside the $FILE_NAME, as
     * Windows keeps it; made later, the library moves the name out to an
     * extension record instead. */
    if (ntfs_inode_add_attrlist(ni)) die("attribute list");
    ntfs_attr *na = ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0);
    if (!na) die("data attribute");
    const s64 total = mib << 20;
    /* Whole compression units per write: 16 clusters of 4096 bytes. */
    const size_t piece = 1 << 20;
    unsigned char *buf = malloc(piece);
    for (s64 at = 0; at < total; at += (s64)piece) {
        fill_text(buf, piece, 42, (uint64_t)at);
        s64 done = 0;
        while (done < (s64)piece) {
            s64 n = ntfs_attr_pwrite(na, at + done, (s64)piece - done, buf + done);
            if (n <= 0) die("write");
            done += n;
        }
    }
    if (ntfs_attr_pclose(na)) die("pclose");
    if (ntfs_attr_map_whole_runlist(na)) die("runlist");
    printf("%llu %lld %u\n", (unsigned long long)record, (long long)total, vol->cluster_size);
    for (runlist_element *rl = na->rl; rl && rl->length; rl++)
        printf("%lld %lld\n", (long long)(rl->lcn < 0 ? 0 : rl->lcn), (long long)rl->length);
    ntfs_attr_close(na);
    free(buf);
    ntfs_inode_close(ni);
    ntfs_inode_close(dir);
    ntfs_inode_close(root);
}

int main(int argc, char **argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: ntfs-bench-volume files IMAGE FILES FOLDERS [MAXSIZE] | compressed IMAGE MIB\n");
        return 2;
    }
    vol = ntfs_mount(argv[2], NTFS_MNT_NONE);
    if (!vol) die("mount");
    if (strcmp(argv[1], "files") == 0 && (argc == 5 || argc == 6))
        make_files(atoi(argv[3]), atoi(argv[4]), argc == 6 ? (uint32_t)strtoul(argv[5], NULL, 10) : 16384);
    else if (strcmp(argv[1], "compressed") == 0)
        make_compressed(atoll(argv[3]));
    else
        return 2;
    if (ntfs_umount(vol, FALSE)) die("umount");
    return 0;
}
