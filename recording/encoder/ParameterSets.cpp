#include "ParameterSets.h"

#include "BitWriter.h"

#include <iterator>

namespace zv::h264 {

namespace {

struct LevelLimits {
    int levelIdc;
    int64_t maxMbPerSecond;
    int maxFrameMbs;
    int64_t maxKbitPerSecond;
};

constexpr LevelLimits kLevels[] = {
    {10, 1485, 99, 64},           {11, 3000, 396, 192},        {12, 6000, 396, 384},
    {13, 11880, 396, 768},        {20, 11880, 396, 2000},      {21, 19800, 792, 4000},
    {22, 20250, 1620, 4000},      {30, 40500, 1620, 10000},    {31, 108000, 3600, 14000},
    {32, 216000, 5120, 20000},    {40, 245760, 8192, 20000},   {41, 245760, 8192, 50000},
    {42, 522240, 8704, 50000},    {50, 589824, 22080, 135000}, {51, 983040, 36864, 240000},
    {52, 2073600, 36864, 240000},
};

}  // namespace

int chooseLevel(int mbWidth, int mbHeight, int64_t frameDuration100ns, uint32_t bitrate) {
    const int frameMbs = mbWidth * mbHeight;
    for (const LevelLimits& level : kLevels) {
        const int64_t sideLimitSquared = int64_t(level.maxFrameMbs) * 8;  // neither side may exceed sqrt(8 * MaxFS)
        if (frameMbs <= level.maxFrameMbs && int64_t(mbWidth) * mbWidth <= sideLimitSquared &&
            int64_t(mbHeight) * mbHeight <= sideLimitSquared && int64_t(bitrate) <= level.maxKbitPerSecond * 1000 &&
            int64_t(frameMbs) * 10'000'000 <= level.maxMbPerSecond * frameDuration100ns)
            return level.levelIdc;
    }
    return kLevels[std::size(kLevels) - 1].levelIdc;
}

int verticalMotionLimit(int levelIdc) {
    return levelIdc <= 12 ? 64 : levelIdc <= 20 ? 128 : levelIdc <= 30 ? 256 : 512;
}

std::vector<uint8_t> buildSpsRbsp(const StreamLayout& layout) {
    BitWriter w;
    w.putBits(kProfileIdc, 8);
    w.putBits(kConstraintFlags, 8);
    w.putBits(uint32_t(layout.levelIdc), 8);
    w.putUe(0);                     // seq_parameter_set_id
    w.putUe(kLog2MaxFrameNum - 4);  // log2_max_frame_num_minus4
    w.putUe(2);                     // pic_order_cnt_type: output order is decoding order
    w.putUe(1);                     // max_num_ref_frames
    w.putBit(false);                // gaps_in_frame_num_value_allowed_flag
    w.putUe(uint32_t(layout.mbWidth - 1));
    w.putUe(uint32_t(layout.mbHeight - 1));
    w.putBit(true);  // frame_mbs_only_flag
    w.putBit(true);  // direct_8x8_inference_flag
    const int cropRight = (layout.mbWidth * 16 - layout.width) / 2;
    const int cropBottom = (layout.mbHeight * 16 - layout.height) / 2;
    const bool cropping = cropRight != 0 || cropBottom != 0;
    w.putBit(cropping);
    if (cropping) {
        w.putUe(0);
        w.putUe(uint32_t(cropRight));
        w.putUe(0);
        w.putUe(uint32_t(cropBottom));
    }
    w.putBit(true);  // vui_parameters_present_flag
    w.putBit(true);  // aspect_ratio_info_present_flag
    w.putBits(1, 8);  // square samples
    w.putBit(false);  // overscan_info_present_flag
    w.putBit(true);   // video_signal_type_present_flag
    w.putBits(5, 3);  // video_format: unspecified
    w.putBit(false);  // limited range
    w.putBit(true);   // colour_description_present_flag
    w.putBits(1, 8);  // colour_primaries: BT.709 (sRGB screens)
    w.putBits(1, 8);  // transfer_characteristics
    w.putBits(6, 8);  // matrix_coefficients: BT.601, what the converter uses
    w.putBit(false);  // chroma_loc_info_present_flag
    w.putBit(false);  // timing_info_present_flag: timestamps live in the container
    w.putBit(false);  // nal_hrd_parameters_present_flag
    w.putBit(false);  // vcl_hrd_parameters_present_flag
    w.putBit(false);  // pic_struct_present_flag
    w.putBit(true);   // bitstream_restriction_flag: lets decoders output each frame at once
    w.putBit(true);   // motion_vectors_over_pic_boundaries_flag
    w.putUe(0);       // max_bytes_per_pic_denom
    w.putUe(0);       // max_bits_per_mb_denom
    w.putUe(16);      // log2_max_mv_length_horizontal
    w.putUe(16);      // log2_max_mv_length_vertical
    w.putUe(0);       // max_num_reorder_frames
    w.putUe(1);       // max_dec_frame_buffering
    w.putTrailingBits();
    return w.bytes();
}

std::vector<uint8_t> buildPpsRbsp() {
    BitWriter w;
    w.putUe(0);       // pic_parameter_set_id
    w.putUe(0);       // seq_parameter_set_id
    w.putBit(false);  // entropy_coding_mode_flag: CAVLC
    w.putBit(false);  // bottom_field_pic_order_in_frame_present_flag
    w.putUe(0);       // num_slice_groups_minus1
    w.putUe(0);       // num_ref_idx_l0_default_active_minus1
    w.putUe(0);       // num_ref_idx_l1_default_active_minus1
    w.putBit(false);  // weighted_pred_flag
    w.putBits(0, 2);  // weighted_bipred_idc
    w.putSe(0);       // pic_init_qp_minus26
    w.putSe(0);       // pic_init_qs_minus26
    w.putSe(0);       // chroma_qp_index_offset
    w.putBit(true);   // deblocking_filter_control_present_flag
    w.putBit(false);  // constrained_intra_pred_flag
    w.putBit(false);  // redundant_pic_cnt_present_flag
    w.putTrailingBits();
    return w.bytes();
}

void writeSliceHeader(BitWriter& w, const SliceHeader& h) {
    w.putUe(0);                // first_mb_in_slice
    w.putUe(h.idr ? 7 : 5);    // slice_type: I or P, same for the whole picture
    w.putUe(0);                // pic_parameter_set_id
    w.putBits(uint32_t(h.frameNum) & ((1u << kLog2MaxFrameNum) - 1), kLog2MaxFrameNum);
    if (h.idr) w.putUe(uint32_t(h.idrPicId));
    if (!h.idr) {
        w.putBit(false);  // num_ref_idx_active_override_flag
        w.putBit(false);  // ref_pic_list_modification_flag_l0
    }
    if (h.idr) {
        w.putBit(false);  // no_output_of_prior_pics_flag
        w.putBit(false);  // long_term_reference_flag
    } else {
        w.putBit(false);  // adaptive_ref_pic_marking_mode_flag: sliding window
    }
    w.putSe(h.qp - 26);  // slice_qp_delta
    // Deblocking off: screen edges stay sharp and it saves the filter pass on both sides.
    w.putUe(1);
}

}  // namespace zv::h264
