//! Schema patterns for the C++ validator: the `regex` crate behind a C ABI.
//! No panic crosses the boundary; every entry point catches it and reports
//! failure instead.

use std::os::raw::c_char;
use std::panic::{catch_unwind, AssertUnwindSafe};

use regex::{Regex, RegexBuilder};

pub struct QfRegex(Regex);

/// `(?<name>` is the named-group form newer releases of the crate accept;
/// older ones only know `(?P<name>`. Rewrites that one form outside classes
/// and escapes, leaving the look-behind openers `(?<=` and `(?<!` (invalid
/// either way) as written.
fn rewrite_named_groups(p: &str) -> std::borrow::Cow<'_, str> {
    if !p.contains("(?<") {
        return std::borrow::Cow::Borrowed(p);
    }
    let b = p.as_bytes();
    let mut out = String::with_capacity(p.len() + 8);
    let mut class_depth = 0usize;
    let mut i = 0;
    let mut copied = 0;
    while i < b.len() {
        match b[i] {
            b'\\' => i += 2,
            b'[' => {
                class_depth += 1;
                i += 1;
                // A ']' right after the opener (or its '^') is a literal.
                if i < b.len() && b[i] == b'^' {
                    i += 1;
                }
                if i < b.len() && b[i] == b']' {
                    i += 1;
                }
            }
            b']' if class_depth > 0 => {
                class_depth -= 1;
                i += 1;
            }
            b'(' if class_depth == 0
                && b[i..].starts_with(b"(?<")
                && !matches!(b.get(i + 3), Some(b'=') | Some(b'!')) =>
            {
                out.push_str(&p[copied..i]);
                out.push_str("(?P<");
                i += 3;
                copied = i;
            }
            _ => i += 1,
        }
    }
    out.push_str(&p[copied..]);
    std::borrow::Cow::Owned(out)
}

fn build(pattern: &[u8]) -> Option<Regex> {
    let text = std::str::from_utf8(pattern).ok()?;
    RegexBuilder::new(&rewrite_named_groups(text))
        .size_limit(10 << 20)
        .dfa_size_limit(2 << 20)
        .nest_limit(250)
        .unicode(true)
        .case_insensitive(false)
        .build()
        .ok()
}

/// Compiles `pattern` (UTF-8, `len` bytes). Null when it is invalid, over a
/// limit, or compiling failed in any other way.
#[no_mangle]
pub unsafe extern "C" fn qf_regex_compile(pattern: *const c_char, len: usize) -> *mut QfRegex {
    let bytes: &[u8] = if len == 0 {
        &[]
    } else {
        std::slice::from_raw_parts(pattern as *const u8, len)
    };
    match catch_unwind(AssertUnwindSafe(|| build(bytes))) {
        Ok(Some(re)) => Box::into_raw(Box::new(QfRegex(re))),
        _ => std::ptr::null_mut(),
    }
}

/// 1 when the pattern matches anywhere in `text`, 0 when not, -1 when the
/// search failed.
#[no_mangle]
pub unsafe extern "C" fn qf_regex_is_match(re: *const QfRegex, text: *const c_char, len: usize) -> i32 {
    if re.is_null() {
        return -1;
    }
    let hay: &[u8] = if len == 0 {
        &[]
    } else {
        std::slice::from_raw_parts(text as *const u8, len)
    };
    let re = &*re;
    // The validator's texts are UTF-8; anything else is searched as its
    // lossy decoding rather than trusted.
    match catch_unwind(AssertUnwindSafe(|| re.0.is_match(&String::from_utf8_lossy(hay)))) {
        Ok(m) => m as i32,
        Err(_) => -1,
    }
}

#[no_mangle]
pub unsafe extern "C" fn qf_regex_free(re: *mut QfRegex) {
    if !re.is_null() {
        let _ = catch_unwind(AssertUnwindSafe(|| drop(Box::from_raw(re))));
    }
}

#[cfg(test)]
mod tests {
    use super::rewrite_named_groups as rw;

    #[test]
    fn rewrites_only_named_groups() {
        assert_eq!(rw("(?<n>a)"), "(?P<n>a)");
        assert_eq!(rw("(?<=a)(?<!b)"), "(?<=a)(?<!b)");
        assert_eq!(rw(r"\(?<n>"), r"\(?<n>");
        assert_eq!(rw("[(?<n>]"), "[(?<n>]");
        assert_eq!(rw("[](?<n>](?<m>x)"), "[](?<n>](?P<m>x)");
        assert_eq!(rw("[a[(?<]](?<m>x)"), "[a[(?<]](?P<m>x)");
    }
}
