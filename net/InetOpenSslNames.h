// The OpenSSL exports the loader binds by name, as lists of X-macro entries. The loader turns
// them into its import tables; the tests turn them into stub DLLs that export the same names.
// This header includes nothing, so it also serves code that cannot see OpenSSL's headers.
//
// Required names are the ones the TLS code calls: one of them missing refuses the library.
// Optional names (engines, UI, rarely used algorithms and parameter calls) may be missing:
// their variables stay null, the missing names are reported, and callers test for null.
#pragma once

// ---- libcrypto, every version ----------------------------------------------------------------

#define VA_CRYPTO_REQUIRED(X)                                                                  \
    X(ERR_get_error) X(ERR_peek_error) X(ERR_peek_last_error) X(ERR_error_string_n)              \
    X(ERR_clear_error) X(OpenSSL_version) X(CRYPTO_free) X(CRYPTO_malloc) X(OPENSSL_init_crypto) \
    X(OPENSSL_sk_new_null) X(OPENSSL_sk_push) X(OPENSSL_sk_num) X(OPENSSL_sk_value)              \
    X(OPENSSL_sk_free) X(OPENSSL_sk_pop_free) X(OPENSSL_sk_shift)                                \
    X(BIO_new) X(BIO_s_mem) X(BIO_new_mem_buf) X(BIO_new_file) X(BIO_free) X(BIO_free_all)       \
    X(BIO_read) X(BIO_write) X(BIO_puts) X(BIO_ctrl) X(BIO_test_flags) X(BIO_new_bio_pair)       \
    X(BIO_ctrl_pending)                                                                        \
    X(RAND_seed) X(RAND_bytes)                                                                 \
    X(OBJ_create) X(OBJ_nid2ln) X(OBJ_nid2sn) X(OBJ_obj2nid) X(OBJ_obj2txt) X(OBJ_txt2nid)       \
    X(EVP_MD_CTX_new) X(EVP_MD_CTX_free) X(EVP_DigestInit_ex) X(EVP_DigestUpdate)                \
    X(EVP_DigestFinal_ex) X(EVP_md5) X(EVP_sha1) X(EVP_sha224) X(EVP_sha256) X(EVP_sha384)       \
    X(EVP_sha512) X(EVP_ripemd160)                                                             \
    X(EVP_enc_null) X(EVP_aes_128_cbc) X(EVP_aes_128_cfb128) X(EVP_aes_128_ecb)                  \
    X(EVP_aes_128_ofb) X(EVP_aes_128_gcm) X(EVP_aes_128_ocb) X(EVP_aes_128_ccm)                  \
    X(EVP_aes_192_cbc) X(EVP_aes_192_cfb128) X(EVP_aes_192_ecb) X(EVP_aes_192_ofb)               \
    X(EVP_aes_192_gcm) X(EVP_aes_192_ocb) X(EVP_aes_192_ccm) X(EVP_aes_256_cbc)                  \
    X(EVP_aes_256_cfb128) X(EVP_aes_256_ecb) X(EVP_aes_256_ofb) X(EVP_aes_256_gcm)               \
    X(EVP_aes_256_ocb) X(EVP_aes_256_ccm) X(EVP_chacha20) X(EVP_des_ede3_cbc)                    \
    X(EVP_des_ede3_cfb64) X(EVP_des_ede3_ecb) X(EVP_des_ede3_ofb)                                \
    X(EVP_PKEY_free) X(EVP_PKEY_up_ref)                                                        \
    X(EVP_EncryptInit_ex) X(EVP_CIPHER_CTX_new) X(EVP_CIPHER_CTX_free)                           \
    X(PEM_read_bio_X509) X(PEM_read_bio_X509_CRL) X(PEM_read_bio_PrivateKey)                     \
    X(PEM_write_bio_X509) X(PEM_write_bio_PKCS8PrivateKey) X(PEM_write_bio_PrivateKey)           \
    X(d2i_X509_bio) X(d2i_X509) X(i2d_X509)                                                    \
    X(X509_free) X(X509_dup) X(X509_up_ref) X(X509_digest) X(X509_get_subject_name)              \
    X(X509_get_issuer_name) X(X509_NAME_get_index_by_NID) X(X509_NAME_get_entry)                 \
    X(X509_NAME_ENTRY_get_data) X(X509_get_serialNumber) X(ASN1_INTEGER_get_int64)               \
    X(ASN1_STRING_get0_data) X(ASN1_STRING_length) X(ASN1_STRING_type) X(ASN1_STRING_type_new)     \
    X(ASN1_STRING_set) X(ASN1_STRING_free) X(X509_get0_notBefore)                              \
    X(X509_get0_notAfter) X(X509_get_signature_nid) X(X509_get0_pubkey) X(X509_check_issued)     \
    X(X509_check_private_key) X(X509_get_ext_count) X(X509_get_ext) X(X509_get_ext_by_NID)       \
    X(X509_EXTENSION_get_critical) X(X509_EXTENSION_get_object) X(X509_EXTENSION_get_data)       \
    X(X509V3_EXT_get) X(X509V3_conf_free) X(ASN1_item_d2i) X(ASN1_item_free) X(i2a_ASN1_OBJECT)  \
    X(X509_check_host) X(X509_check_ip_asc) X(X509_CRL_free)                                   \
    X(X509_STORE_new) X(X509_STORE_free) X(X509_STORE_add_cert) X(X509_STORE_add_crl)            \
    X(X509_STORE_set_flags) X(X509_STORE_CTX_new) X(X509_STORE_CTX_init) X(X509_STORE_CTX_free)  \
    X(X509_verify_cert) X(X509_STORE_CTX_get_error) X(X509_STORE_CTX_get_error_depth)            \
    X(X509_STORE_CTX_get_current_cert) X(X509_STORE_CTX_get_ex_data)                           \
    X(X509_verify_cert_error_string) X(X509_VERIFY_PARAM_set_flags)                            \
    X(X509_VERIFY_PARAM_set_depth) X(X509_VERIFY_PARAM_set_hostflags)                          \
    X(X509_VERIFY_PARAM_set1_host) X(X509_VERIFY_PARAM_set1_ip_asc) X(X509_VERIFY_PARAM_get0_peername)                          \
    X(d2i_OCSP_RESPONSE) X(OCSP_response_status) X(OCSP_RESPONSE_free)

// ---- libcrypto, optional in every version -----------------------------------------------------

// The DH and EC_KEY calls are deprecated in 3.x and missing from a build without them; the
// callers then take the EVP_PKEY way.
#define VA_CRYPTO_OPTIONAL(X)                                                                  \
    X(EVP_mdc2) X(EVP_bf_cbc) X(EVP_bf_cfb64) X(EVP_bf_ecb) X(EVP_bf_ofb) X(EVP_idea_cbc)        \
    X(EVP_idea_cfb64) X(EVP_idea_ecb) X(EVP_idea_ofb)                                           \
    X(PEM_read_bio_DHparams) X(DH_free) X(EVP_PKEY_get0_EC_KEY) X(EC_KEY_get0_group)             \
    X(EC_GROUP_get_curve_name) X(PEM_read_bio_Parameters)

// Engines and the pass-phrase UI (the "extra" table).
#define VA_CRYPTO_EXTRA(X)                                                                     \
    X(ENGINE_by_id) X(ENGINE_ctrl_cmd_string) X(ENGINE_finish) X(ENGINE_free) X(ENGINE_init)     \
    X(ENGINE_load_builtin_engines) X(ENGINE_load_private_key) X(ENGINE_load_public_key)          \
    X(ENGINE_load_ssl_client_cert) X(ENGINE_register_all_complete) X(ENGINE_set_default)         \
    X(UI_OpenSSL) X(UI_create_method) X(UI_destroy_method) X(UI_free) X(UI_get_ex_data)          \
    X(UI_method_set_reader) X(UI_new) X(UI_new_method) X(UI_set_ex_data) X(UI_set_result)

// From 1.1.1 on; optional.
#define VA_CRYPTO_FROM_111(X)                                                                  \
    X(BIO_read_ex) X(BIO_write_ex) X(EVP_DigestSign) X(EVP_DigestVerify)                         \
    X(EVP_PKEY_new_raw_private_key) X(EVP_PKEY_new_raw_public_key)                             \
    X(EVP_PKEY_get_raw_private_key) X(EVP_PKEY_get_raw_public_key) X(EVP_sha3_224)               \
    X(EVP_sha3_256) X(EVP_sha3_384) X(EVP_sha3_512) X(EVP_shake128) X(EVP_shake256)              \
    X(RSA_set0_multi_prime_params) X(RSA_get_multi_prime_extra_count)                          \
    X(RSA_get0_multi_prime_factors) X(RSA_get0_multi_prime_crt_params) X(RSA_get_version)

// Functions OpenSSL 3 renamed: X(old name, new name). The old name binds on 1.1.x, the new
// one on 3.x, both into the variable of the new name. Required.
#define VA_CRYPTO_RENAMED(X)                                                                   \
    X(EVP_MD_type, EVP_MD_get_type) X(EVP_MD_pkey_type, EVP_MD_get_pkey_type)                    \
    X(EVP_MD_size, EVP_MD_get_size) X(EVP_MD_block_size, EVP_MD_get_block_size)                  \
    X(EVP_MD_flags, EVP_MD_get_flags) X(EVP_PKEY_base_id, EVP_PKEY_get_base_id)                  \
    X(EVP_PKEY_bits, EVP_PKEY_get_bits) X(EVP_PKEY_id, EVP_PKEY_get_id)                          \
    X(EVP_PKEY_security_bits, EVP_PKEY_get_security_bits) X(EVP_PKEY_size, EVP_PKEY_get_size)

// Only in 3.x; required.
#define VA_CRYPTO_V3_REQUIRED(X)                                                               \
    X(OPENSSL_version_major) X(OPENSSL_version_minor) X(OPENSSL_version_patch)                  \
    X(OPENSSL_version_pre_release) X(OPENSSL_version_build_metadata) X(OPENSSL_info)            \
    X(OSSL_PROVIDER_available) X(OSSL_PROVIDER_load) X(OSSL_PROVIDER_try_load)                   \
    X(OSSL_PROVIDER_unload) X(OSSL_PROVIDER_set_default_search_path)

// Only in 3.x; optional: the provider, library-context and parameter groups whole, and the
// parameter functions of EVP_PKEY, EVP_PKEY_CTX, EVP_CIPHER(_CTX) and EVP_MD(_CTX).
#define VA_CRYPTO_V3_OPTIONAL(X)                                                               \
    X(OSSL_PROVIDER_add_builtin) X(OSSL_PROVIDER_do_all) X(OSSL_PROVIDER_get0_dispatch)        \
    X(OSSL_PROVIDER_get0_name) X(OSSL_PROVIDER_get0_provider_ctx)                              \
    X(OSSL_PROVIDER_get_capabilities) X(OSSL_PROVIDER_get_params)                              \
    X(OSSL_PROVIDER_gettable_params) X(OSSL_PROVIDER_query_operation)                          \
    X(OSSL_PROVIDER_self_test) X(OSSL_PROVIDER_unquery_operation) X(OSSL_LIB_CTX_new)          \
    X(OSSL_LIB_CTX_free) X(OSSL_LIB_CTX_load_config) X(OSSL_LIB_CTX_get0_global_default)       \
    X(OSSL_LIB_CTX_set0_default) X(OSSL_PARAM_BLD_free) X(OSSL_PARAM_BLD_new)                  \
    X(OSSL_PARAM_BLD_push_BN) X(OSSL_PARAM_BLD_push_BN_pad) X(OSSL_PARAM_BLD_push_double)      \
    X(OSSL_PARAM_BLD_push_int) X(OSSL_PARAM_BLD_push_int32) X(OSSL_PARAM_BLD_push_int64)       \
    X(OSSL_PARAM_BLD_push_long) X(OSSL_PARAM_BLD_push_octet_ptr)                               \
    X(OSSL_PARAM_BLD_push_octet_string) X(OSSL_PARAM_BLD_push_size_t)                          \
    X(OSSL_PARAM_BLD_push_time_t) X(OSSL_PARAM_BLD_push_uint) X(OSSL_PARAM_BLD_push_uint32)    \
    X(OSSL_PARAM_BLD_push_uint64) X(OSSL_PARAM_BLD_push_ulong) X(OSSL_PARAM_BLD_push_utf8_ptr) \
    X(OSSL_PARAM_BLD_push_utf8_string) X(OSSL_PARAM_BLD_to_param)                              \
    X(OSSL_PARAM_allocate_from_text) X(OSSL_PARAM_construct_BN) X(OSSL_PARAM_construct_double) \
    X(OSSL_PARAM_construct_end) X(OSSL_PARAM_construct_int) X(OSSL_PARAM_construct_int32)      \
    X(OSSL_PARAM_construct_int64) X(OSSL_PARAM_construct_long)                                 \
    X(OSSL_PARAM_construct_octet_ptr) X(OSSL_PARAM_construct_octet_string)                     \
    X(OSSL_PARAM_construct_size_t) X(OSSL_PARAM_construct_time_t) X(OSSL_PARAM_construct_uint) \
    X(OSSL_PARAM_construct_uint32) X(OSSL_PARAM_construct_uint64)                              \
    X(OSSL_PARAM_construct_ulong) X(OSSL_PARAM_construct_utf8_ptr)                             \
    X(OSSL_PARAM_construct_utf8_string) X(OSSL_PARAM_dup) X(OSSL_PARAM_free)                   \
    X(OSSL_PARAM_get_BN) X(OSSL_PARAM_get_double) X(OSSL_PARAM_get_int)                        \
    X(OSSL_PARAM_get_int32) X(OSSL_PARAM_get_int64) X(OSSL_PARAM_get_long)                     \
    X(OSSL_PARAM_get_octet_ptr) X(OSSL_PARAM_get_octet_string)                                 \
    X(OSSL_PARAM_get_octet_string_ptr) X(OSSL_PARAM_get_size_t) X(OSSL_PARAM_get_time_t)       \
    X(OSSL_PARAM_get_uint) X(OSSL_PARAM_get_uint32) X(OSSL_PARAM_get_uint64)                   \
    X(OSSL_PARAM_get_ulong) X(OSSL_PARAM_get_utf8_ptr) X(OSSL_PARAM_get_utf8_string)           \
    X(OSSL_PARAM_get_utf8_string_ptr) X(OSSL_PARAM_locate) X(OSSL_PARAM_locate_const)          \
    X(OSSL_PARAM_merge) X(OSSL_PARAM_modified) X(OSSL_PARAM_set_BN)                            \
    X(OSSL_PARAM_set_all_unmodified) X(OSSL_PARAM_set_double) X(OSSL_PARAM_set_int)            \
    X(OSSL_PARAM_set_int32) X(OSSL_PARAM_set_int64) X(OSSL_PARAM_set_long)                     \
    X(OSSL_PARAM_set_octet_ptr) X(OSSL_PARAM_set_octet_string) X(OSSL_PARAM_set_size_t)        \
    X(OSSL_PARAM_set_time_t) X(OSSL_PARAM_set_uint) X(OSSL_PARAM_set_uint32)                   \
    X(OSSL_PARAM_set_uint64) X(OSSL_PARAM_set_ulong) X(OSSL_PARAM_set_utf8_ptr)                \
    X(OSSL_PARAM_set_utf8_string) X(EVP_set_default_properties)                                \
    X(EVP_default_properties_enable_fips) X(EVP_default_properties_is_fips_enabled)            \
    X(EVP_PKEY_generate) X(BN_bn2nativepad) X(BN_native2bn) X(EVP_MD_fetch) X(EVP_MD_free)     \
    X(EVP_CIPHER_fetch) X(EVP_CIPHER_free) X(EVP_CIPHER_CTX_get_params)                        \
    X(EVP_CIPHER_CTX_gettable_params) X(EVP_CIPHER_CTX_set_params)                             \
    X(EVP_CIPHER_CTX_settable_params) X(EVP_CIPHER_get_params)                                 \
    X(EVP_CIPHER_gettable_ctx_params) X(EVP_CIPHER_gettable_params)                            \
    X(EVP_CIPHER_settable_ctx_params) X(EVP_MD_CTX_get_params) X(EVP_MD_CTX_gettable_params)   \
    X(EVP_MD_CTX_set_params) X(EVP_MD_CTX_settable_params) X(EVP_MD_get_params)                \
    X(EVP_MD_gettable_ctx_params) X(EVP_MD_gettable_params) X(EVP_MD_settable_ctx_params)      \
    X(EVP_PKEY_CTX_get_params) X(EVP_PKEY_CTX_gettable_params) X(EVP_PKEY_CTX_set_params)      \
    X(EVP_PKEY_CTX_settable_params) X(EVP_PKEY_fromdata) X(EVP_PKEY_fromdata_init)             \
    X(EVP_PKEY_fromdata_settable) X(EVP_PKEY_get_bn_param) X(EVP_PKEY_get_int_param)           \
    X(EVP_PKEY_get_octet_string_param) X(EVP_PKEY_get_params) X(EVP_PKEY_get_size_t_param)     \
    X(EVP_PKEY_get_utf8_string_param) X(EVP_PKEY_gettable_params) X(EVP_PKEY_set_bn_param)     \
    X(EVP_PKEY_set_int_param) X(EVP_PKEY_set_octet_string_param) X(EVP_PKEY_set_params)        \
    X(EVP_PKEY_set_size_t_param) X(EVP_PKEY_set_utf8_string_param) X(EVP_PKEY_settable_params) \
    X(EVP_PKEY_todata)

// ---- libssl ----------------------------------------------------------------------------------

#define VA_SSL_REQUIRED(X)                                                                     \
    X(TLS_method) X(TLS_client_method) X(TLS_server_method) X(SSL_CTX_new) X(SSL_CTX_free)       \
    X(SSL_CTX_ctrl) X(SSL_CTX_callback_ctrl) X(SSL_ctrl) X(SSL_callback_ctrl)                    \
    X(SSL_CTX_set_security_level) X(SSL_CTX_get_security_level) X(SSL_CTX_set_cipher_list)       \
    X(SSL_CTX_set_ciphersuites) X(SSL_CTX_use_certificate) X(SSL_CTX_use_PrivateKey)             \
    X(SSL_CTX_check_private_key) X(SSL_CTX_get_cert_store) X(SSL_CTX_load_verify_locations)      \
    X(SSL_CTX_set_verify) X(SSL_CTX_set_verify_depth) X(SSL_CTX_get_verify_mode)                 \
    X(SSL_CTX_get_verify_depth) X(SSL_CTX_set_ex_data) X(SSL_CTX_get_ex_data)                    \
    X(SSL_CTX_sess_set_remove_cb) X(SSL_CTX_sess_set_new_cb) X(SSL_CTX_sess_set_get_cb)          \
    X(SSL_CTX_set_timeout) X(SSL_CTX_get_timeout) X(SSL_CTX_set_session_id_context)              \
    X(SSL_CTX_set_alpn_protos) X(SSL_CTX_set_alpn_select_cb) X(SSL_CTX_set_client_hello_cb)      \
    X(SSL_CTX_set_client_cert_cb) X(SSL_CTX_get_client_cert_cb) X(SSL_CTX_set_info_callback)     \
    X(SSL_CTX_get0_param) X(SSL_CTX_get0_certificate) X(SSL_CTX_get_ciphers)                     \
    X(SSL_new) X(SSL_free) X(SSL_set_bio) X(SSL_connect) X(SSL_accept) X(SSL_do_handshake)       \
    X(SSL_read) X(SSL_write) X(SSL_shutdown) X(SSL_get_shutdown) X(SSL_set_shutdown)             \
    X(SSL_get_error) X(SSL_set_connect_state) X(SSL_set_accept_state) X(SSL_get0_param)          \
    X(SSL_get_verify_result) X(SSL_get_peer_cert_chain) X(SSL_get_version) X(SSL_version)        \
    X(SSL_get_current_cipher) X(SSL_CIPHER_get_name) X(SSL_CIPHER_get_bits)                      \
    X(SSL_CIPHER_description) X(SSL_session_reused) X(SSL_get_session) X(SSL_get1_session)       \
    X(SSL_set_session) X(SSL_SESSION_free) X(SSL_SESSION_get_id) X(SSL_set_ex_data)              \
    X(SSL_get_ex_data) X(SSL_get_ex_data_X509_STORE_CTX_idx) X(SSL_get_SSL_CTX)                  \
    X(SSL_set_SSL_CTX) X(SSL_get_servername) X(SSL_get0_alpn_selected)                           \
    X(SSL_set_session_id_context) X(SSL_get_state) X(SSL_is_server) X(SSL_pending)               \
    X(SSL_set_info_callback) X(SSL_set_verify) X(SSL_client_hello_isv2)                          \
    X(SSL_client_hello_get0_legacy_version) X(SSL_client_hello_get0_random)                      \
    X(SSL_client_hello_get0_session_id) X(SSL_client_hello_get0_ciphers)                         \
    X(SSL_client_hello_get1_extensions_present) X(SSL_client_hello_get0_ext)                     \
    X(SSL_get_ciphers) X(SSL_get_cipher_list) X(BIO_f_ssl) X(SSL_alert_desc_string_long)         \
    X(SSL_state_string_long) X(SSL_SESSION_up_ref) X(SSL_peek)

// The option calls changed their type: unsigned long (32 bits on Win64) up to 1.1.1, uint64_t
// from 3.0. X(name) binds "name" into ossl::name on 3.x and into ossl::name_111 on 1.1.x.
#define VA_SSL_OPTIONS(X)                                                                      \
    X(SSL_CTX_set_options) X(SSL_CTX_get_options) X(SSL_CTX_clear_options) X(SSL_set_options)    \
    X(SSL_get_options) X(SSL_clear_options)

#define VA_SSL_RENAMED(X) X(SSL_get_peer_certificate, SSL_get1_peer_certificate)

#define VA_SSL_EXTRA(X) X(SSL_CTX_set_client_cert_engine) X(SSL_CTX_set0_tmp_dh_pkey) X(SSL_renegotiate_pending)
